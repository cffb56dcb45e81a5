#pragma once

#include "DriveCore/model/AppModel.h"

#include <QKeySequence>
#include <QList>
#include <QString>

#include <optional>

namespace DriveCore {
class SharesModel;
}

namespace CorvaneDrive {

// The menu of the tray icon, also shown in the home window: which entries exist and which are
// enabled, worked out from the model alone. The tray menu and the home window only render the
// rows and hand each chosen action to the delegate.
namespace MenuContent {

// Window identifiers the menu and the label open.
inline const QString setupWindow = QStringLiteral("setup");
inline const QString searchWindow = QStringLiteral("search");
inline const QString uploadsWindow = QStringLiteral("uploads");
inline const QString recentlyDeletedWindow = QStringLiteral("recently-deleted");
inline const QString copyAllWindow = QStringLiteral("copy-all");
inline const QString shareWindow = QStringLiteral("share");
inline const QString sharedLinksWindow = QStringLiteral("shared-links");
inline const QString conflictWindow = QStringLiteral("conflict");
inline const QString homeWindow = QStringLiteral("home");
inline const QString settingsWindow = QStringLiteral("settings");

inline const QString tagline = QStringLiteral("Your files. Your space.");
inline const QString offlineText = QStringLiteral("Offline");
inline const QString reconnectFailedText = QStringLiteral("Ovra couldn't show the drive in the file manager");

// What an entry does when chosen.
enum class Action {
    none, // a text line or a separator
    setUp,
    tryAgain,
    reconnect,
    openExtensionSettings,
    search,
    openInFinder,
    uploads,
    recentlyDeleted,
    copyAll,
    shareFiles,
    sharedLinks,
    resolveConflicts,
    checkForUpdates,
    settings,
    quit,
};

struct Row {
    enum Kind { text, button, separator };

    bool operator==(const Row &) const = default;

    Kind kind = separator;
    QString title;
    Action action = Action::none;
    bool enabled = true;
    QKeySequence shortcut;
};

// Everything the rows depend on.
struct Input {
    std::optional<QString> versionLine; // "Ovra <version>"; none gives "Ovra"
    DriveCore::AppModelPhase phase;
    QString statusLine;
    std::optional<QString> keepProgress;
    bool canRetryLaunch = false;
    bool isEjected = false;
    bool needsExtensionSwitch = false;
    bool hasSettings = false;
    qsizetype conflicts = 0;
    bool creatingShare = false;
};

// The input as the model (and the share model, when it was made) hold it now.
Input input(const DriveCore::AppModel &model, const DriveCore::SharesModel *shares);

// The rows, top to bottom.
QList<Row> rows(const Input &input);

} // namespace MenuContent

} // namespace CorvaneDrive
