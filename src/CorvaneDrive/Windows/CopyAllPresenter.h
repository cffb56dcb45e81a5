#pragma once

#include "DriveCore/model/CopyAllRun.h"
#include "DriveCore/platform/FreeSpace.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

namespace DriveCore {
class AppModel;
}

namespace CorvaneDrive {

// What the copy-all window reads and calls of the app model.
struct CopyAllContext {
    // The model's one copy run.
    QPointer<DriveCore::CopyAllRun> run;
    // The size of every file of the drive.
    std::function<QCoro::Task<qint64>()> driveSize;
    // Free bytes on the disk of a folder; none when unreadable.
    std::function<std::optional<qint64>(const QString &)> freeSpace = [](const QString &folder) {
        return DriveCore::FreeSpace::read(folder);
    };
    std::function<void()> windowOpened = [] {};
    std::function<void()> windowClosed = [] {};

    static CopyAllContext live(DriveCore::AppModel &model);
};

// The copy-all window's state: the folder chosen, the drive's size for the space warning, and
// what the model's copy run shows. The run belongs to the model: a window opened while a copy
// runs shows its folder, progress and Stop.
class CopyAllPresenter : public QObject {
    Q_OBJECT
public:
    static inline const QString windowTitle = QStringLiteral("Copy All My Files");
    static inline const QString heading = QStringLiteral("Copy all my files to this computer");
    static inline const QString explanation = QStringLiteral(
        "Ovra downloads every file in your drive and unlocks it into a new folder called \u201cOvra files\u201d inside "
        "the folder you choose. Nothing in your storage is changed or deleted. You can stop and continue later by "
        "choosing the same folder again.");
    static inline const QString chooseTitle = QStringLiteral("Choose Folder\u2026");
    static inline const QString choosePrompt = QStringLiteral("Choose");
    static inline const QString startTitle = QStringLiteral("Start Copying");
    static inline const QString stopTitle = QStringLiteral("Stop");
    static inline const QString doneText =
        QStringLiteral("Done. Your files are in \u201cOvra files\u201d inside the folder you chose.");

    static constexpr int width = 520;
    static constexpr int margin = 24;
    static constexpr int spacing = 14;

    explicit CopyAllPresenter(CopyAllContext context, QObject *parent = nullptr);

    // The folder shown: the one chosen here, else that of the model's copy.
    std::optional<QString> destination() const;
    const std::optional<qint64> &driveBytes() const { return m_driveBytes; }
    bool running() const;
    std::optional<DriveCore::CopyProgress> progress() const;
    bool finished() const;
    std::optional<QString> message() const;

    bool canChoose() const { return !running(); }
    bool canStart() const { return !running() && destination().has_value(); }
    // Orange text when the drive is larger than the free space of the folder's disk.
    std::optional<QString> spaceWarning() const;
    // The bar's value and maximum (at least 1), and the text under it.
    static std::pair<qint64, qint64> bar(const DriveCore::CopyProgress &progress);
    static QString progressText(const DriveCore::CopyProgress &progress);
    static QString warningText(qint64 driveBytes, qint64 freeBytes);

    // A folder was chosen in the panel: clears the Done text and the message and asks the
    // model for the drive's size.
    void choose(const QString &folder);
    void start();
    void stop();
    void shown();
    void hidden();

signals:
    void changed();

private:
    static QCoro::Task<> measure(QPointer<CopyAllPresenter> self, std::function<QCoro::Task<qint64>()> driveSize,
                                 int generation);

    CopyAllContext m_context;
    std::optional<QString> m_destination;
    std::optional<qint64> m_driveBytes;
    // The model's last outcome (Done or the message, not the progress) stays hidden once the user
    // chose a folder after it.
    bool m_outcomeDismissed = false;
    int m_sizeGeneration = 0;
};

} // namespace CorvaneDrive
