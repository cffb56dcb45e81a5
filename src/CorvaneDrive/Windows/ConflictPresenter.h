#pragma once

#include "DriveCore/services/ConflictResolver.h"

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

// What the conflict window reads and calls of the app model.
struct ConflictContext {
    std::function<std::optional<DriveCore::DriveConflict>()> currentConflict;
    // "1 of <n>" while two or more wait.
    std::function<std::optional<QString>()> counter;
    // The notice for the user, or none.
    std::function<QCoro::Task<std::optional<QString>>(DriveCore::ConflictChoice)> resolve;
    // Calls `changed` whenever the conflicts may have changed, while `receiver` lives.
    std::function<void(QObject *receiver, std::function<void()> changed)> observe = [](QObject *,
                                                                                       std::function<void()>) {};

    static ConflictContext live(DriveCore::AppModel &model);
};

// The conflict window's state: a choice being carried out, the error line and the notice
// waiting to be shown. The window closes itself once no conflict waits and no notice shows.
class ConflictPresenter : public QObject {
    Q_OBJECT
public:
    static inline const QString windowTitle = QStringLiteral("Ovra");
    static inline const QString okTitle = QStringLiteral("OK");
    static constexpr int width = 520;
    static constexpr int margin = 20;
    static constexpr int spacing = 12;

    explicit ConflictPresenter(ConflictContext context, QObject *parent = nullptr);

    bool working() const { return m_working; }
    const std::optional<QString> &error() const { return m_error; }
    const std::optional<QString> &notice() const { return m_notice; }

    // None: the window shows nothing (it is about to close).
    std::optional<DriveCore::DriveConflict> conflict() const { return m_context.currentConflict(); }
    std::optional<QString> title() const;
    std::optional<QString> counter() const { return m_context.counter(); }
    // Whether the window should close now: no conflict waits and no notice shows.
    bool shouldClose() const { return !m_context.currentConflict() && !m_notice; }

    // One of the three buttons; nothing while a choice runs.
    void choose(DriveCore::ConflictChoice choice);
    // The notice's "OK", or the notice dismissed any other way.
    void dismissNotice();

signals:
    void changed();

private:
    static QCoro::Task<> run(QPointer<ConflictPresenter> self, ConflictContext context,
                             DriveCore::ConflictChoice choice);

    ConflictContext m_context;
    bool m_working = false;
    std::optional<QString> m_error;
    std::optional<QString> m_notice;
};

} // namespace CorvaneDrive
