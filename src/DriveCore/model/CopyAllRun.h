#pragma once

#include "DriveCore/services/CopyAllFiles.h"
#include "DriveCore/support/Cancellation.h"
#include "DriveCore/support/Tasks.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace DriveCore {

// The copy of every file of the drive as it runs, owned by the app model so that it outlives
// the copy-all window: a window that opens again shows the running copy, its progress and how
// the last one ended, and can stop it. Main-thread object; changed() follows every change.
class CopyAllRun : public QObject {
    Q_OBJECT
public:
    // How the last copy ended.
    enum class Outcome {
        none, // none ended yet, or a new one runs
        finished, // every file is there
        stopped, // stop() ended it; starting again with the same folder goes on from there
        failed, // `message` says why
    };

    static inline const QString stoppedText =
        QStringLiteral("Stopped. Choose Start Copying to continue where it left off.");
    static inline const QString genericFailureText = QStringLiteral("Something went wrong. Try again in a moment.");

    // The copy itself: the app model's copyAllFiles.
    using Copy = std::function<QCoro::Task<>(QString folder, std::function<void(const CopyProgress &)> progress,
                                             CancelToken token)>;

    explicit CopyAllRun(Copy copy, QObject *parent = nullptr);
    ~CopyAllRun() override;

    bool isRunning() const { return m_task.isStarted() && !m_ended; }
    // The folder chosen for the running or last copy.
    const std::optional<QString> &folder() const { return m_folder; }
    // The last progress report of the running or last copy; none before the first.
    const std::optional<CopyProgress> &progress() const { return m_progress; }
    Outcome outcome() const { return m_outcome; }
    // With stopped: stoppedText; with failed: an AppModelError's text, else genericFailureText.
    const std::optional<QString> &message() const { return m_message; }

    // Starts a copy into `folder` (its "Ovra files" folder); false, changing nothing, while one
    // runs.
    bool start(QString folder);
    // Stops the running copy; it ends as stopped.
    void stop();
    // Returns once no copy runs, its clean-up done; CancelledError when `token` is cancelled
    // first.
    QCoro::Task<> ended(CancelToken token = {});

signals:
    void changed();

private:
    void report(const CopyProgress &progress);
    void end(Outcome outcome, std::optional<QString> message);

    Copy m_copy;
    TaskHandle<> m_task;
    bool m_ended = true;
    std::optional<QString> m_folder;
    std::optional<CopyProgress> m_progress;
    Outcome m_outcome = Outcome::none;
    std::optional<QString> m_message;
    detail::Waker m_waker;
};

} // namespace DriveCore
