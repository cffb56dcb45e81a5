// Every help page a button opens is one the project ships, so that no button leads nowhere.
#include "CorvaneDrive/Settings/KeptFilesPresenter.h"
#include "CorvaneDrive/Settings/SettingsPresenter.h"
#include "CorvaneDrive/Setup/TurnOnDrivePresenter.h"
#include "CorvaneDrive/Shell/AppResources.h"
#include "DriveCore/model/AppModel.h"
#include "OvraFinder/FinderSync.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace CorvaneDrive;

TEST(HelpPages, EveryPageAButtonOpensIsShippedInHelp)
{
    const QDir shipped(QStringLiteral(CORVANE_SOURCE_DIR "/help"));
    const struct {
        const char *button;
        QString page;
    } cases[] = {
        {"menu: Show How…", DriveCore::AppModel::extensionSettingsURL().fileName()},
        {"setup: Show How", TurnOnDrivePresenter::helpPageName},
        {"settings: Turn on Keep on This Computer in Files…", SettingsPresenter::addOnHelpPageName},
        {"shell: file-system layer", QFileInfo(AppResources::fileSystemHelpPage()).fileName()},
        {"shell: file-manager plug-in", QFileInfo(AppResources::addOnHelpPage()).fileName()},
    };
    for (const auto &[button, page] : cases)
        EXPECT_TRUE(QFileInfo(shipped.filePath(page)).isFile()) << button << ": " << page.toStdString();
}

// The pages name what the application shows, in the words it shows them, and send nobody to a
// place this desktop does not have.
TEST(HelpPages, PagesUseTheApplicationsWords)
{
    const QDir shipped(QStringLiteral(CORVANE_SOURCE_DIR "/help"));
    const auto read = [&](const QString &name) {
        QFile file(shipped.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        return QString::fromUtf8(file.readAll());
    };
    const QString plugIn = read(SettingsPresenter::addOnHelpPageName);
    EXPECT_TRUE(plugIn.contains(QString::fromUtf8(OvraFinder::FinderSync::keepTitle))) << "the Keep menu item";
    EXPECT_TRUE(plugIn.contains(KeptFilesPresenter::title)) << "the settings tab";

    const QRegularExpression macPlace(QStringLiteral(R"(\bMacs?\b|Finder|macOS|menu bar|System Settings|Keychain)"));
    for (const QString &name : shipped.entryList({QStringLiteral("*.html")}, QDir::Files)) {
        const QRegularExpressionMatch found = macPlace.match(read(name));
        EXPECT_FALSE(found.hasMatch()) << name.toStdString() << ": " << found.captured().toStdString();
    }
}
