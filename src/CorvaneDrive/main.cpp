// The application: one instance per user and profile, a tray icon where the desktop has a tray
// and the home window where it has none, the drive started at once.
#include "CorvaneDrive/Shell/AppDelegate.h"
#include "CorvaneDrive/Shell/AppResources.h"
#include "CorvaneDrive/Shell/TrayIcon.h"
#include "DriveCore/engine/DriveProfile.h"
#include "DriveCore/model/RcloneLocator.h"
#include "DriveCore/platform/SingleInstance.h"
#include "DriveCore/support/Log.h"

#include <QApplication>
#include <QDBusConnection>
#include <QIcon>

using namespace CorvaneDrive;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The tray shows the name; a display name would be appended to every window title.
    QApplication::setApplicationName(QStringLiteral("Ovra"));
    QApplication::setDesktopFileName(QStringLiteral("com.corvane.drive"));
    // The tray is the application's face: closing the last window ends nothing.
    QApplication::setQuitOnLastWindowClosed(false);
    // The icons beside the program, for a prefix (or a build folder) the desktop does not search.
    if (const std::optional<QString> icons = AppResources::iconFolder();
        icons && !QIcon::themeSearchPaths().contains(*icons))
        QIcon::setThemeSearchPaths(QIcon::themeSearchPaths() << *icons);
    QApplication::setWindowIcon(TrayIcon::face(MenuBarLabel::brandIcon));
    // Installation folders, not the user's: public. Tells an installation that lacks them.
    DriveCore::Log("app").info("Link page modules in %{public}s, help pages in %{public}s",
                               AppResources::shareWorkerFolder(), AppResources::helpFolder());

    DriveCore::SingleInstance instance(QDBusConnection::sessionBus(),
                                       DriveCore::DriveProfile::keychainService(DriveCore::DriveProfile::current()));
    if (instance.claim() == DriveCore::SingleInstance::Claim::another)
        return 0;

    AppDelegate delegate(DriveCore::AppModel::live(DriveCore::RcloneLocator::locate()), QDBusConnection::sessionBus(),
                         QDBusConnection::systemBus());
    QObject::connect(&instance, &DriveCore::SingleInstance::reopenRequested, &delegate, &AppDelegate::reopen);
    QObject::connect(&delegate, &AppDelegate::quitReady, &app, [] { QCoreApplication::exit(0); });
    delegate.applicationDidFinishLaunching();
    return QApplication::exec();
}
