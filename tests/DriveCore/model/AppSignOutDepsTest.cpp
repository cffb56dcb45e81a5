// The app's side of sign-out on real folders; a mount folder still in use is a real FUSE mount
// made with bindfs.
#include "DriveCore/model/AppSignOutDeps.h"

#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/keys/OrganisePending.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/platform/UserDefaults.h"
#include "support/InMemoryKeychain.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>

using namespace DriveCore;
using TestSupport::await;

namespace {

class AppSignOutDepsTest : public ::testing::Test {
protected:
    QString path(const QString &name) const { return root.filePath(name); }
    QString makeFolder(const QString &name, const QStringList &files = {})
    {
        EXPECT_TRUE(QDir().mkpath(path(name)));
        for (const QString &file : files) {
            QDir().mkpath(QFileInfo(path(name + u'/' + file)).path());
            QFile out(path(name + u'/' + file));
            EXPECT_TRUE(out.open(QIODevice::WriteOnly));
            out.write("x");
        }
        return path(name);
    }

    QStringList logged() const { return log->messages(QStringLiteral("sign-out")); }

    QTemporaryDir root;
    std::optional<TestSupport::LogCapture> log{std::in_place};
};

TEST_F(AppSignOutDepsTest, RemovesLocalFoldersAndOnlyEmptyMountFolders)
{
    log.emplace();
    const QStringList local{
        makeFolder(QStringLiteral("Cache"), {QStringLiteral("vfs/a/b.txt"), QStringLiteral("vfsMeta/x")}),
        path(QStringLiteral("Logs")), // already gone
        makeFolder(QStringLiteral("Keep"), {QStringLiteral("id.json")})};
    const QString mount = makeFolder(QStringLiteral("Mounts/Ovra"), {QStringLiteral("left behind.txt")});
    const QString backing = makeFolder(QStringLiteral("Backing/ID"));

    AppSignOutDeps::removeLocalData(local, mount, backing);
    for (const QString &folder : local)
        EXPECT_FALSE(QFileInfo::exists(folder)) << folder.toStdString();
    EXPECT_TRUE(QFileInfo::exists(mount + QStringLiteral("/left behind.txt"))) << "never removed with contents";
    EXPECT_FALSE(QFileInfo::exists(backing));
    EXPECT_EQ(logged(), QStringList{QStringLiteral("Left Ovra in place (ENOTEMPTY)")});

    // Everything already gone, and no backing folder: no error.
    log.emplace();
    EXPECT_NO_THROW(AppSignOutDeps::removeLocalData(local, path(QStringLiteral("gone")), std::nullopt));
    EXPECT_TRUE(logged().isEmpty());
}

TEST_F(AppSignOutDepsTest, AMountFolderStillMountedIsLeftInPlace)
{
    log.emplace();
    const QString bindfs = QStandardPaths::findExecutable(QStringLiteral("bindfs"));
    ASSERT_FALSE(bindfs.isEmpty()) << "bindfs is not installed";
    const QString source = makeFolder(QStringLiteral("source"), {QStringLiteral("file")});
    const QString mount = makeFolder(QStringLiteral("Mounts/Ovra"));
    ASSERT_EQ(QProcess::execute(bindfs, {source, mount}), 0);
    const auto unmount =
        qScopeGuard([&] { QProcess::execute(QStringLiteral("fusermount3"), {QStringLiteral("-u"), mount}); });

    AppSignOutDeps::removeLocalData({}, mount, std::nullopt);
    EXPECT_TRUE(QFileInfo::exists(mount + QStringLiteral("/file")));
    EXPECT_EQ(logged(), QStringList{QStringLiteral("Left Ovra in place (EBUSY)")});
}

TEST_F(AppSignOutDepsTest, AnotherFailureStopsTheRemovalThere)
{
    QFile notAFolder(path(QStringLiteral("Mounts")));
    ASSERT_TRUE(notAFolder.open(QIODevice::WriteOnly));
    notAFolder.close();
    const QString backing = makeFolder(QStringLiteral("Backing/ID"));
    try {
        AppSignOutDeps::removeLocalData({}, path(QStringLiteral("Mounts/Ovra")), backing);
        FAIL() << "no error";
    } catch (const AppSignOutDeps::RemovalError &error) {
        EXPECT_EQ(error.error, ENOTDIR);
        EXPECT_EQ(SignOut::failureText(error),
                  QStringLiteral("Sign out didn't finish: “Ovra” couldn't be removed (Not a directory). Nothing was "
                                 "removed after that step. Try again."));
    }
    EXPECT_TRUE(QFileInfo::exists(backing)) << "the folders after it are untouched";
}

TEST_F(AppSignOutDepsTest, DepsReachTheStoreTheScansAndTheDefaults)
{
    const auto keychain = std::make_shared<TestSupport::InMemoryKeychain>();
    const auto store = std::make_shared<KeychainSecretStore>(QStringLiteral("com.corvane.drive"), keychain);
    await(
        store->save(StorageSecrets{QStringLiteral("e"), QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("s")},
                    QStringLiteral("p")));
    UserDefaults defaults(path(QStringLiteral("defaults.json")));
    DriveSettings{QStringLiteral("d"), 30, QUuid::createUuid(), QStringLiteral("m"), true}.save(defaults);
    OrganisePending::save(OrganiseKind::newDrive, defaults);
    defaults.set(QStringLiteral("driveEngine"), QStringLiteral("nfs"));

    const auto deps = std::make_shared<AppSignOutDeps>();
    deps->secrets = store;
    deps->cacheFolder = makeFolder(QStringLiteral("Cache"));
    deps->localFolders = {deps->cacheFolder};
    deps->mountFolder = makeFolder(QStringLiteral("Mount"));
    QStringList scanned;
    deps->scanUnuploaded = [&](const QString &folder) {
        scanned << QStringLiteral("unuploaded ") + folder;
        return true;
    };
    deps->scanPendingTrash = [&](const QString &folder) {
        scanned << QStringLiteral("trash ") + folder;
        return false;
    };
    deps->clear = [&] { AppSignOutDeps::clearDefaults(defaults); };

    EXPECT_TRUE(await(deps->hasUnuploadedFiles()));
    EXPECT_FALSE(await(deps->hasPendingTrashMoves()));
    EXPECT_EQ(
        scanned,
        (QStringList{QStringLiteral("unuploaded ") + deps->cacheFolder, QStringLiteral("trash ") + deps->cacheFolder}));
    await(deps->deleteSecrets());
    EXPECT_EQ(await(store->load()), std::nullopt);
    await(deps->deleteLocalData());
    EXPECT_FALSE(QFileInfo::exists(deps->cacheFolder));
    EXPECT_FALSE(QFileInfo::exists(deps->mountFolder));
    deps->clearSettings();
    EXPECT_FALSE(defaults.contains(QStringLiteral("driveSettings")));
    EXPECT_FALSE(defaults.contains(QStringLiteral("organisePending")));
    EXPECT_TRUE(defaults.contains(QStringLiteral("driveEngine"))) << "nothing else is cleared";
}

} // namespace
