#pragma once

#include "DriveCore/keys/SetupState.h"
#include "DriveCore/support/Cancellation.h"

#include <QCoroTask>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

namespace CorvaneDrive {

// The screen that waits for the file-system layer to be usable. On this system its switch is
// bindfs being installed and /dev/fuse usable; "Show How" opens our help page on it.
class TurnOnDrivePresenter {
public:
    // Sleeps on the monotonic clock; throws CancelledError when the token is cancelled.
    using Sleep = std::function<QCoro::Task<>(std::chrono::milliseconds, DriveCore::CancelToken)>;

    static inline const QString title = QStringLiteral("Switch Ovra on");
    static inline const QString intro =
        QStringLiteral("Ovra's drive needs bindfs and FUSE, set up once. It only takes a moment:");
    // Words between double asterisks are shown in bold.
    static inline const QStringList steps = {
        QStringLiteral("1. Click **Show How** below."),
        QStringLiteral("2. Install **bindfs**, then make sure **/dev/fuse** is usable, as the page shows."),
        QStringLiteral("3. Once **Ovra File System** can be used, come back here."),
    };
    static inline const QString note = QStringLiteral("Ovra carries on by itself as soon as it's on.");
    static inline const QString openSettingsTitle = QStringLiteral("Show How");
    // The help page's file, under <prefix>/share/corvane-drive/help.
    static inline const QString helpPageName = QStringLiteral("file-system-layer.html");

    static constexpr std::chrono::milliseconds pollInterval = std::chrono::seconds(2);

    // Rich text of a step: HTML-escaped, with the **marked** words in bold.
    static QString emphasised(const QString &marked);
    // The installed help page, found from the running program (<prefix>/bin).
    static QString installedHelpPage();

    // While the screen is shown: asks the assistant at once and then 2 s after each answer
    // whether the layer is usable (the assistant moves on by itself when it is). Ends when the
    // step is no longer the turn-on step, the assistant is gone or `token` is cancelled.
    static QCoro::Task<> poll(QPointer<DriveCore::SetupState> state, Sleep sleep, DriveCore::CancelToken token);
};

} // namespace CorvaneDrive
