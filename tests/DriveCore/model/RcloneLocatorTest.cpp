#include "DriveCore/model/RcloneLocator.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace DriveCore;

namespace {

class RcloneLocatorTest : public ::testing::Test {
protected:
    // Makes a file (and its folders), executable or not.
    QString make(const QString &relative, bool executable = true)
    {
        const QString path = root.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write("#!/bin/sh\n");
        file.close();
        file.setPermissions(executable ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                       : QFile::ReadOwner | QFile::WriteOwner);
        return path;
    }

    QTemporaryDir root;
    const QString marker = QString::fromLatin1(RcloneLocator::repoMarkerPath);
};

TEST_F(RcloneLocatorTest, TheInstalledHelperWinsThenTheVariableThenTheDevelopmentBuild)
{
    const QString app = make(QStringLiteral("prefix/bin/corvane-drive"));
    const QString other = make(QStringLiteral("elsewhere/rclone"));
    const QMap<QString, QString> variable{{QStringLiteral("CORVANE_DRIVE_RCLONE"), other}};

    const QString helper = make(QStringLiteral("prefix/libexec/corvane-drive/rclone"));
    EXPECT_EQ(RcloneLocator::locate(app, variable), helper);

    make(QStringLiteral("prefix/libexec/corvane-drive/rclone"), false);
    EXPECT_EQ(RcloneLocator::locate(app, variable), other) << "a helper that cannot run is passed over";

    const QMap<QString, QString> missing{
        {QStringLiteral("CORVANE_DRIVE_RCLONE"), root.filePath(QStringLiteral("nothing"))}};
    EXPECT_EQ(RcloneLocator::locate(app, missing), std::nullopt);
    make(marker, false);
    const QString build = make(QStringLiteral("build/rclone"));
    EXPECT_EQ(RcloneLocator::locate(app, missing), build) << "a missing program falls through to the development build";
    EXPECT_EQ(RcloneLocator::locate(app, {}), build);
    QDir(root.filePath(QStringLiteral("elsewhere"))).mkpath(QStringLiteral("folder"));
    const QMap<QString, QString> folder{
        {QStringLiteral("CORVANE_DRIVE_RCLONE"), root.filePath(QStringLiteral("elsewhere/folder"))}};
    EXPECT_EQ(RcloneLocator::locate(app, folder), build) << "a folder is not a program";
}

TEST_F(RcloneLocatorTest, TheDevelopmentBuildNeedsTheMarkerAndTheRootIsNeverSearched)
{
    const QString app = make(QStringLiteral("tree/inner/bin/corvane-drive"));
    make(QStringLiteral("tree/inner/build/rclone")); // no marker beside it
    EXPECT_EQ(RcloneLocator::repoBuild(app), std::nullopt);
    make(QStringLiteral("tree/") + marker, false);
    const QString outer = make(QStringLiteral("tree/build/rclone"));
    EXPECT_EQ(RcloneLocator::repoBuild(app), outer) << "the search goes on upwards";

    // Through a symbolic link the search starts from the real program.
    QFile::link(app, root.filePath(QStringLiteral("link")));
    EXPECT_EQ(RcloneLocator::repoBuild(root.filePath(QStringLiteral("link"))), outer);

    EXPECT_EQ(RcloneLocator::repoBuild(QStringLiteral("/corvane-drive")), std::nullopt);
}

// The marker is this repository's own file, so that a program built here finds an engine put
// into the tree's build folder.
TEST_F(RcloneLocatorTest, FindsTheEngineInThisSourceTreesBuildFolder)
{
    const QString source = QStringLiteral(CORVANE_SOURCE_DIR);
    EXPECT_TRUE(QFileInfo(source + u'/' + marker).isFile())
        << marker.toStdString() << " is not in " << source.toStdString();

    // The tree's shape, with the program where the build puts it.
    make(QStringLiteral("tree/") + marker, false);
    const QString app = make(QStringLiteral("tree/build/bin/corvane-drive"));
    const QString engine = make(QStringLiteral("tree/build/rclone"));
    EXPECT_EQ(RcloneLocator::locate(app, {}), engine);
}

} // namespace
