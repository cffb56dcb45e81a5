// Every help page a button opens is one the project ships, so that no button leads nowhere.
#include "CorvaneDrive/Settings/SettingsPresenter.h"
#include "CorvaneDrive/Setup/TurnOnDrivePresenter.h"
#include "CorvaneDrive/Shell/AppResources.h"
#include "DriveCore/model/AppModel.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace CorvaneDrive;

TEST(HelpPages, EveryPageAButtonOpensIsShippedInHelp)
{
    const QDir shipped(QStringLiteral(CORVANE_SOURCE_DIR "/help"));
    const struct {
        const char *button;
        QString page;
    } cases[] = {
        {"menu: Open System Settings…", DriveCore::AppModel::extensionSettingsURL().fileName()},
        {"setup: Open System Settings", TurnOnDrivePresenter::helpPageName},
        {"settings: Turn on Keep on This Mac in Finder…", SettingsPresenter::addOnHelpPageName},
        {"shell: file-system layer", QFileInfo(AppResources::fileSystemHelpPage()).fileName()},
        {"shell: file-manager plug-in", QFileInfo(AppResources::addOnHelpPage()).fileName()},
    };
    for (const auto &[button, page] : cases)
        EXPECT_TRUE(QFileInfo(shipped.filePath(page)).isFile()) << button << ": " << page.toStdString();
}
