#include "DriveCore/platform/StandardFolders.h"
#include "support/ScopedEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace DriveCore;

using TestSupport::ScopedEnvironment;

TEST(StandardFolders, XdgFoldersWithFallbacksBelowHome)
{
    ScopedEnvironment env;
    env.set("HOME", "/home/tester");
    env.unset("XDG_CONFIG_HOME");
    env.set("XDG_DATA_HOME", "");
    env.set("XDG_STATE_HOME", "relative/state"); // only absolute paths count
    EXPECT_EQ(StandardFolders::home(), QStringLiteral("/home/tester"));
    EXPECT_EQ(StandardFolders::configHome(), QStringLiteral("/home/tester/.config"));
    EXPECT_EQ(StandardFolders::dataHome(), QStringLiteral("/home/tester/.local/share"));
    EXPECT_EQ(StandardFolders::stateHome(), QStringLiteral("/home/tester/.local/state"));

    env.set("XDG_CONFIG_HOME", "/x/config/");
    env.set("XDG_DATA_HOME", "/x/data");
    env.set("XDG_STATE_HOME", "/x/state");
    EXPECT_EQ(StandardFolders::configHome(), QStringLiteral("/x/config"));
    EXPECT_EQ(StandardFolders::dataHome(), QStringLiteral("/x/data"));
    EXPECT_EQ(StandardFolders::stateHome(), QStringLiteral("/x/state"));

    // A home that is not absolute is the passwd entry's.
    env.unset("HOME");
    const QString fromPasswd = StandardFolders::home();
    ASSERT_TRUE(fromPasswd.startsWith(u'/'));
    for (const QByteArray &relative : {QByteArray("home/tester"), QByteArray("."), QByteArray("~")}) {
        env.set("HOME", relative);
        EXPECT_EQ(StandardFolders::home(), fromPasswd) << relative.constData();
        env.set("XDG_CONFIG_HOME", "config");
        EXPECT_EQ(StandardFolders::configHome(), fromPasswd + QStringLiteral("/.config")) << relative.constData();
    }
}

TEST(StandardFolders, TemporaryFolderIsPrivateAndRemovedWithItsContents)
{
    QTemporaryDir root;
    ScopedEnvironment env;
    env.set("TMPDIR", root.path().toUtf8());
    QString path;
    {
        TemporaryFolder folder(QStringLiteral("CorvaneDrive-test"));
        path = folder.path();
        EXPECT_TRUE(path.startsWith(root.path() + QStringLiteral("/CorvaneDrive-test-")));
        struct stat info{};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0700u);
        QDir(path).mkpath(QStringLiteral("a/b"));
        QFile file(folder.filePath(QStringLiteral("a/b/secret")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    EXPECT_FALSE(QFileInfo::exists(path));

    env.set("TMPDIR", root.filePath(QStringLiteral("missing")).toUtf8());
    EXPECT_THROW(TemporaryFolder(QStringLiteral("x")), std::system_error);
}
