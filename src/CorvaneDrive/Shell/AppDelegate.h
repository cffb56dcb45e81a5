#pragma once

#include "CorvaneDrive/Shell/FinderAddOnListener.h"
#include "CorvaneDrive/Shell/MenuBarLabel.h"
#include "CorvaneDrive/Shell/MenuBarPresence.h"
#include "CorvaneDrive/Shell/MenuContent.h"
#include "CorvaneDrive/Shell/MenuFeed.h"
#include "CorvaneDrive/Shell/WindowRegistry.h"
#include "DriveCore/model/AppModel.h"

#include <QCoroTask>
#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>

class QMessageBox;

namespace DriveCore {
class PowerOffWatch;
class SharesModel;
class StatusNotifierWatch;
class TerminationSignals;
} // namespace DriveCore

namespace CorvaneDrive {

class SearchShortcut;
class TrayIcon;

// The top of the application: owns the one model for the life of the process, the tray
// presence, the lazily made share model and the windows (made once each, by identifier); starts
// the drive; answers quit (menu, SIGTERM/SIGINT, power-off), reopen (a second start) and the
// file-manager plug-in. Main thread.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    // The desktop's side of the delegate's actions; tests may replace them.
    struct Desktop {
        std::function<void()> activate;
        // Opens a folder in the file manager (FileManager1 on the session bus, else xdg-open).
        std::function<void(const QString &)> showFolder;
        std::function<void(const QUrl &)> openUrl;
        // Modal: "Wait" (the default) or "Quit Anyway"; true for the second.
        std::function<bool()> confirmQuitWhileUploading;
        // Modal alerts with one dismiss button: a failure, and a plain notice.
        std::function<void(const QString &text, const QString &detail)> alert;
        std::function<void(const QString &text, const QString &detail)> inform;
    };

    static inline const QString noUpdatesText = QStringLiteral("This copy of Ovra doesn't update itself.");
    static inline const QString noUpdatesDetail =
        QStringLiteral("Get new versions of Ovra the same way you installed this one.");
    static constexpr std::chrono::milliseconds reopenFallback = std::chrono::seconds(2);

    // True only for a string update key that is not empty and does not begin with "REPLACE_".
    static bool updatesConfigured(const QVariantMap &info);
    // The build number when it is a whole decimal number (optional sign) in the signed 64-bit
    // range; 0 otherwise.
    static qint64 appBuild(const QVariantMap &info);

    AppDelegate(std::unique_ptr<DriveCore::AppModel> model, QDBusConnection sessionBus, QDBusConnection systemBus,
                QObject *parent = nullptr);
    ~AppDelegate() override;

    // Start-up: the quit and power-off signals, the file-manager listener, the label's
    // reactions, the tray watch, then the drive's launch.
    void applicationDidFinishLaunching();

    DriveCore::AppModel &model() const { return *m_model; }
    MenuBarPresence &menuBar() const { return *m_menuBar; }
    MenuBarLabel &label() const { return *m_label; }
    MenuFeed &menu() const { return *m_feed; }
    WindowRegistry &windows() const { return *m_windows; }
    TrayIcon &tray() const { return *m_tray; }
    Desktop &desktop() { return m_desktop; }
    // Made on first read, then kept.
    DriveCore::SharesModel &shares();

    // A quit request from the menu: asks the model for a fresh count, asks the user when
    // something still uploads, and ends with the drive stopped. A second request while one is
    // being answered is refused. SIGTERM, SIGINT and the power-off quit without the question.
    void requestQuit();
    // The application was started again: the home window comes forward.
    void reopen();
    void checkForUpdates();
    void perform(MenuContent::Action action);

    bool quitInProgress() const { return m_quitInProgress; }
    bool poweringOff() const { return m_poweringOff; }

signals:
    // The drive has stopped after a quit; the process may end now.
    void quitReady();

private:
    // Signals and power-off: the drive stops (uploads flushed within the shutdown's bound)
    // without asking, and a question already up counts as answered.
    void quitWithoutQuestion();
    QCoro::Task<> quitting();
    bool confirmQuitWhileUploading();
    // The keep failure's alert, shown without blocking; `closed` runs once it is dismissed.
    void showKeepAlert(const QString &text, std::function<void()> closed);
    QCoro::Task<> reconnect();
    void pickAndShare();
    void openWindow(const QString &identifier);
    void trayHostChanged(bool hasHost);
    void followDriveForInhibitor();
    void registerWindows();
    // "Show in File Manager": the file manager on the session bus, else the items' folder.
    void revealInFileManager(const QList<QUrl> &items);

    std::unique_ptr<DriveCore::AppModel> m_model;
    QDBusConnection m_sessionBus;
    QDBusConnection m_systemBus;
    MenuBarPresence *m_menuBar;
    DriveCore::SharesModel *m_shares = nullptr;
    bool m_quitInProgress = false;
    bool m_poweringOff = false;
    // No question is asked: a termination signal or the power-off.
    bool m_quitConfirmed = false;
    WindowRegistry *m_windows;
    MenuFeed *m_feed;
    MenuBarLabel *m_label;
    TrayIcon *m_tray;
    FinderAddOnListener *m_listener;
    DriveCore::StatusNotifierWatch *m_trayWatch;
    DriveCore::PowerOffWatch *m_powerOff;
    DriveCore::TerminationSignals *m_signals = nullptr;
    SearchShortcut *m_searchShortcut = nullptr;
    Desktop m_desktop;
    QPointer<QMessageBox> m_quitQuestion;
    QPointer<QMessageBox> m_keepAlert;
    // The home window is up only because no tray was there.
    bool m_homeStandsIn = false;
};

} // namespace CorvaneDrive
