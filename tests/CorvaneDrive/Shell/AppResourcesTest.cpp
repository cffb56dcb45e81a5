// The program finds its files beside itself, laid out as installed, in an installation and in a
// build folder alike, wherever that is; the tray shows an icon also where the theme lacks it.
#include "CorvaneDrive/Shell/AppResources.h"
#include "CorvaneDrive/Settings/SettingsPresenter.h"
#include "CorvaneDrive/Setup/TurnOnDrivePresenter.h"
#include "CorvaneDrive/Shell/MenuBarLabel.h"
#include "CorvaneDrive/Shell/TrayIcon.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace CorvaneDrive;

namespace {

const QString program = QStringLiteral(CORVANE_APP_PROGRAM);

const QStringList trayFaces{MenuBarLabel::brandIcon, MenuBarLabel::uploadingIcon, MenuBarLabel::offlineIcon,
                            MenuBarLabel::problemIcon};

void touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

// Puts the icon theme back for the tests after.
class ScopedIconTheme {
public:
    explicit ScopedIconTheme(const QStringList &searchPaths) { QIcon::setThemeSearchPaths(searchPaths); }
    ~ScopedIconTheme() { QIcon::setThemeSearchPaths(m_saved); }

private:
    QStringList m_saved = QIcon::themeSearchPaths();
};

} // namespace

TEST(AppResources, FindsItsFilesBesideTheProgramWhereverItsPrefixIs)
{
    const struct {
        const char *name;
        QString prefix;
        bool withIcons;
    } cases[] = {
        {.name = "installed", .prefix = QStringLiteral("usr/local"), .withIcons = true},
        {.name = "build folder beside the sources", .prefix = QStringLiteral("work/build"), .withIcons = true},
        {.name = "prefix with a space", .prefix = QStringLiteral("opt/Corvane Drive"), .withIcons = true},
        {.name = "icon folder without the tray icon", .prefix = QStringLiteral("elsewhere"), .withIcons = false},
    };
    QTemporaryDir root;
    for (const auto &c : cases) {
        const QString prefix = root.filePath(c.prefix);
        const QString app = prefix + QStringLiteral("/bin/corvane-drive");
        touch(app);
        touch(prefix + QStringLiteral("/share/corvane-drive/help/") + TurnOnDrivePresenter::helpPageName);
        touch(prefix + QStringLiteral("/share/corvane-drive/share-worker/worker.js"));
        touch(prefix
              + (c.withIcons ? QStringLiteral("/share/icons/hicolor/scalable/apps/corvane-drive-symbolic.svg")
                             : QStringLiteral("/share/icons/hicolor/index.theme")));

        EXPECT_EQ(AppResources::prefix(app), prefix) << c.name;
        EXPECT_EQ(AppResources::dataFolder(app, QStringLiteral("help")),
                  prefix + QStringLiteral("/share/corvane-drive/help"))
            << c.name;
        EXPECT_EQ(AppResources::dataFolder(app, QStringLiteral("share-worker")),
                  prefix + QStringLiteral("/share/corvane-drive/share-worker"))
            << c.name;
        EXPECT_EQ(AppResources::iconFolder(app),
                  c.withIcons ? std::optional(prefix + QStringLiteral("/share/icons")) : std::nullopt)
            << c.name;
    }
}

// The program as built, in whatever folder the build was configured: what it reads beside itself
// is there, without looking for the source tree.
TEST(AppResources, TheBuildFolderIsLaidOutLikeAnInstallation)
{
    const QDir help(AppResources::dataFolder(program, QStringLiteral("help")));
    for (const QString &page : {TurnOnDrivePresenter::helpPageName, SettingsPresenter::addOnHelpPageName})
        EXPECT_TRUE(QFileInfo(help.filePath(page)).isFile()) << help.filePath(page).toStdString();
    const QDir modules(AppResources::dataFolder(program, QStringLiteral("share-worker")));
    for (const char *module : {"worker.js", "format.js", "assets.js"})
        EXPECT_TRUE(QFileInfo(modules.filePath(QString::fromLatin1(module))).isFile()) << module;
    const std::optional<QString> icons = AppResources::iconFolder(program);
    ASSERT_TRUE(icons) << "no tray icon beside " << program.toStdString();
    for (const QString &face : trayFaces)
        EXPECT_TRUE(
            QFileInfo::exists(*icons + QStringLiteral("/hicolor/scalable/apps/") + face + QStringLiteral(".svg")))
            << face.toStdString();
}

TEST(TrayIconFace, NamesTheThemesIconElseShowsTheBuiltInCopy)
{
    const std::optional<QString> icons = AppResources::iconFolder(program);
    ASSERT_TRUE(icons);
    QTemporaryDir empty;
    for (const QString &face : trayFaces) {
        {
            // By name, so that the panel finds and recolours it; the folders of the desktop's
            // themes define hicolor's layout.
            const ScopedIconTheme theme(QIcon::themeSearchPaths() << *icons);
            EXPECT_EQ(TrayIcon::face(face).name(), face);
        }
        const ScopedIconTheme theme({empty.path()});
        const QIcon builtIn = TrayIcon::face(face);
        EXPECT_FALSE(builtIn.isNull()) << face.toStdString();
        EXPECT_FALSE(builtIn.pixmap(22, 22).isNull()) << face.toStdString() << " has no built-in copy";
    }
}
