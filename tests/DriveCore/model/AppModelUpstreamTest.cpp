// The whole production model over a real drive: AppModel::live with Debian's rclone as the
// engine (mounting over FUSE) and for the one-shot commands, an S3 server on loopback, the keys
// in a private keyring (keyring-session) and the settings in a private configuration folder.
#include "AppModelFixture.h"

#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/DriveProfile.h"
#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/keys/DriveConnection.h"
#include "DriveCore/keys/OrganisePending.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/mount/LeftoverDrive.h"
#include "DriveCore/mount/VFSCacheScan.h"
#include "DriveCore/platform/MountTable.h"
#include "DriveCore/platform/ProcessRunner.h"
#include "support/FinishedSetup.h"
#include "support/FuseMount.h"
#include "support/S3Server.h"
#include "support/StopProcess.h"
#include "support/UpstreamEngine.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <csignal>

using namespace DriveCore;
using namespace std::chrono_literals;
using AppModelTest::finishWithin;

namespace {

class AppModelUpstreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        AppModelTest::useHome(env, home);
        ASSERT_TRUE(server.start()) << server.output().toStdString();
        program = TestSupport::UpstreamEngine::program();
        settings = DriveSettings{.driveName = QStringLiteral("My Drive"),
                                 .cacheGB = 5,
                                 .deviceID = QUuid::createUuid(),
                                 .deviceName = QStringLiteral("Laptop")};
        mountFolder = DriveLayout::mountPath(settings.driveName);
        cacheDir = DriveLayout::cacheDir(settings.deviceID);
    }

    void TearDown() override
    {
        model.reset();
        TestSupport::stopLeftoverEngines(cacheDir);
        TestSupport::FuseMount(mountFolder).unmount();
        TestSupport::spinUntil([] { return false; }, 50ms);
    }

    // Runs rclone by hand on the drive's remotes, as another computer would.
    RcloneResult rclone(const QStringList &arguments)
    {
        Environment environment = RcloneCommand::environment(server.secrets(), RcloneCommand::obscure(passphrase));
        environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
        environment.insert(QStringLiteral("HOME"), home.path());
        return finishWithin(ProcessRunner::run(QStringLiteral("/usr/bin/rclone"), arguments, environment), 60s);
    }

    void storeNewDrive() { TestSupport::storeNewDrive(settings, server.secrets(), passphrase); }

    // Files another computer put in the drive: twelve small ones and one of 8 MB; the keys are
    // kept, as setup leaves them. Gives the files by drive path.
    std::map<QString, QByteArray> putDriveWithALargeFile()
    {
        finishWithin(store.save(server.secrets(), passphrase), 30s);
        QByteArray block(200'000, '\0');
        for (int i = 0; i < 12; ++i) {
            for (qsizetype at = 0; at < block.size(); ++at)
                block[at] = char((at * 7 + i * 13) % 251);
            write(home.filePath(QStringLiteral("source/Folder %1/file %2.bin").arg(i % 3).arg(i)), block);
        }
        QByteArray large(largeSize, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(large.data()), large.size() / 4);
        write(home.filePath(QStringLiteral("source")) + largePath, large);
        const RcloneResult put = rclone(
            {QStringLiteral("copy"), home.filePath(QStringLiteral("source")), QStringLiteral("drivecrypt:Drive")});
        EXPECT_EQ(put.status, 0) << put.stderrText().toStdString();
        return files(home.filePath(QStringLiteral("source")));
    }

    // Whether the copy has gone past the small files (2.4 MB, which a slow copy needs over 2 s
    // for) and so is writing the large one.
    static bool intoTheLargeFile(const CopyAllRun &run)
    {
        return run.progress() && run.progress()->bytesDone > 3'000'000;
    }

    // The model's copies run at 1 MB/s (the engine's own setting, through a wrapper: the
    // command's environment holds only the remotes), so a copy of the large file takes 8 s.
    void copySlowly()
    {
        const QString slow =
            TestSupport::writeScript(home.filePath(QStringLiteral("slow-engine")),
                                     QStringLiteral("RCLONE_BWLIMIT=1M exec '%1' \"$@\"\n").arg(program));
        AppModelTestAccess::hooks(*model).copyAll = AppModelHooks::live(slow).copyAll;
    }

    // The production model, launched and mounted.
    void launch()
    {
        model = AppModel::live(program);
        finishWithin(model->launch(), 90s);
        ASSERT_EQ(model->phase(), AppModelPhase{AppModelPhase::running}) << model->statusLine().toStdString();
        ASSERT_TRUE(TestSupport::spinUntil([&] { return TestSupport::UpstreamEngine::isMounted(mountFolder); }, 30s));
    }

    static void write(const QString &path, const QByteArray &contents)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(contents), contents.size());
    }

    // Every file below `folder`, by relative path, with its contents.
    static std::map<QString, QByteArray> files(const QString &folder)
    {
        std::map<QString, QByteArray> found;
        QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                found[QDir(folder).relativeFilePath(path)] = file.readAll();
        }
        return found;
    }

    KeychainSecretStore store{DriveProfile::keychainService(std::nullopt)};
    TestSupport::LogCapture logs;
    QTemporaryDir home;
    TestSupport::ScopedEnvironment env;
    TestSupport::S3Server server;
    QString program;
    DriveSettings settings;
    QString mountFolder;
    QString cacheDir;
    QString passphrase = QStringLiteral("correct horse battery staple");
    std::unique_ptr<AppModel> model;
    static constexpr qsizetype largeSize = 8'000'000;
    const QString largePath = QStringLiteral("/Videos/large.bin");
};

TEST_F(AppModelUpstreamTest, ALaunchedDriveUploadsEncryptedAndShutdownLeavesNothingRunning)
{
    storeNewDrive();
    auto defaults = UserDefaults::standard();

    model = AppModel::live(program);
    finishWithin(model->launch(), 90s);
    ASSERT_EQ(model->phase(), AppModelPhase{AppModelPhase::running}) << model->statusLine().toStdString();
    EXPECT_FALSE(OrganisePending::load(*defaults).has_value()) << "the organise step is done";
    const QStringList prepared = server.objectNames();
    ASSERT_EQ(prepared.size(), 1) << "the drive's check object: " << prepared.join(u',').toStdString();
    // The engine reports running once launched; its mount follows.
    ASSERT_TRUE(TestSupport::spinUntil([&] { return TestSupport::UpstreamEngine::isMounted(mountFolder); }, 30s));

    // A window makes the model refresh every 2 s.
    model->windowOpened();
    const QByteArray text = "Minutes of the meeting, in confidence.\n";
    {
        QFile file(mountFolder + QStringLiteral("/notes.txt"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(text), text.size());
    }
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] {
            return rclone({QStringLiteral("lsf"), QStringLiteral("drivecrypt:Drive")}).stdoutBytes == "notes.txt\n";
        },
        60s));
    const RcloneResult plain = rclone({QStringLiteral("cat"), QStringLiteral("drivecrypt:Drive/notes.txt")});
    ASSERT_EQ(plain.status, 0) << plain.stderrText().toStdString();
    EXPECT_EQ(plain.stdoutBytes, text);
    for (const QString &name : server.objectNames()) {
        EXPECT_FALSE(name.contains(QStringLiteral("notes"))) << "names are encrypted";
        const RcloneResult raw = rclone({QStringLiteral("cat"), QStringLiteral("drive:bucket/") + name});
        ASSERT_EQ(raw.status, 0) << raw.stderrText().toStdString();
        EXPECT_FALSE(raw.stdoutBytes.contains(text)) << "contents are encrypted";
    }
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] { return model->pendingUploads() == 0 && model->statusLine() == AppModel::allSafeText; }, 30s))
        << model->statusLine().toStdString();
    EXPECT_EQ(model->menuIcon(), QStringLiteral("cloud"));
    EXPECT_NE(model->changeSync(), nullptr);

    finishWithin(model->shutdown(), 60s);
    EXPECT_EQ(model->supervisor().state(), SupervisorState{});
    EXPECT_EQ(model->changeSync(), nullptr);
    EXPECT_TRUE(MountTable::typesMountedAt(mountFolder).isEmpty());
    EXPECT_TRUE(LeftoverDrive::find(cacheDir).empty()) << "no engine left running";
}

TEST_F(AppModelUpstreamTest, FilesLeftUnuploadedBeforeTheDriveWasSetUpAgainReachTheBucket)
{
    storeNewDrive();
    launch();
    write(mountFolder + QStringLiteral("/Reports/q3.txt"), "third quarter\n");
    write(mountFolder + QStringLiteral("/top.txt"), "top\n");
    // The application and its engine die within the engine's 5 s write-back.
    model.reset();
    TestSupport::stopLeftoverEngines(cacheDir);
    TestSupport::FuseMount(mountFolder).unmount();
    ASSERT_TRUE(VFSCacheScan::hasUnuploadedFiles(cacheDir));
    const QStringList listing{QStringLiteral("lsf"), QStringLiteral("-R"), QStringLiteral("drivecrypt:Drive")};
    ASSERT_EQ(rclone(listing).stdoutBytes, "") << "nothing was uploaded";

    // The settings are lost; setting the same drive up again gives a new device id, and with it
    // a new cache folder.
    const QString earlier = cacheDir;
    settings.deviceID = QUuid::createUuid();
    cacheDir = DriveLayout::cacheDir(settings.deviceID);
    storeNewDrive();
    launch();
    const auto listed = [&] {
        QStringList names = QString::fromUtf8(rclone(listing).stdoutBytes).split(u'\n', Qt::SkipEmptyParts);
        names.sort();
        return names;
    };
    const QStringList rescued{QStringLiteral("Reports/"), QStringLiteral("Reports/q3.txt"), QStringLiteral("top.txt")};
    ASSERT_TRUE(TestSupport::spinUntil([&] { return listed() == rescued; }, 90s)) << listed().join(u' ').toStdString();
    EXPECT_EQ(rclone({QStringLiteral("cat"), QStringLiteral("drivecrypt:Drive/Reports/q3.txt")}).stdoutBytes,
              "third quarter\n");
    EXPECT_TRUE(logs.messages(QStringLiteral("cache-recovery"))
                    .contains(QStringLiteral("Rescued 2 files; removed 1 old cache folders, kept 0")))
        << logs.messages(QStringLiteral("cache-recovery")).join(u'\n').toStdString();
    EXPECT_FALSE(QFileInfo::exists(earlier)) << "nothing of the earlier device's cache is left";
    finishWithin(model->shutdown(), 60s);
}

TEST_F(AppModelUpstreamTest, CopyAllStopsMidFileAndGoesOnToEveryFileByteForByte)
{
    const std::map<QString, QByteArray> source = putDriveWithALargeFile();
    model = AppModel::live(program);
    EXPECT_EQ(finishWithin(model->driveSize(), 60s), qint64(12 * 200'000 + largeSize));
    copySlowly();

    // Stopped with the large file half written; the window may close meanwhile: the run goes on.
    const QString chosen = home.filePath(QStringLiteral("chosen"));
    QDir().mkpath(chosen);
    CopyAllRun &run = model->copyAllRun();
    const QString target = AppModel::copyFolder(chosen);
    std::optional<qint64> sizeWhenStopped;
    const QMetaObject::Connection stopper = QObject::connect(&run, &CopyAllRun::changed, [&] {
        if (intoTheLargeFile(run) && !sizeWhenStopped) {
            sizeWhenStopped = QFileInfo(target + largePath).size();
            run.stop();
        }
    });
    ASSERT_TRUE(run.start(chosen));
    finishWithin(run.ended(), 60s);
    QObject::disconnect(stopper);
    ASSERT_TRUE(sizeWhenStopped.has_value());
    EXPECT_LT(*sizeWhenStopped, largeSize) << "stopped in the middle of the large file";
    EXPECT_EQ(run.outcome(), CopyAllRun::Outcome::stopped);
    EXPECT_EQ(run.message(), CopyAllRun::stoppedText);
    EXPECT_FALSE(QFileInfo::exists(target + largePath)) << "the file cut short is gone";

    AppModelTestAccess::hooks(*model).copyAll = AppModelHooks::live(program).copyAll;
    ASSERT_TRUE(run.start(chosen));
    finishWithin(run.ended(), 120s);
    EXPECT_EQ(run.outcome(), CopyAllRun::Outcome::finished) << run.message().value_or(QString()).toStdString();
    ASSERT_TRUE(run.progress().has_value());
    EXPECT_TRUE(files(target) == source) << "every file, byte for byte";
}

TEST_F(AppModelUpstreamTest, QuittingMidCopyLeavesNoFileCutShortForTheNextCopy)
{
    // Copying needs no running drive.
    const std::map<QString, QByteArray> source = putDriveWithALargeFile();
    model = AppModel::live(program);
    copySlowly();
    const QString chosen = home.filePath(QStringLiteral("chosen"));
    QDir().mkpath(chosen);
    const QString target = AppModel::copyFolder(chosen);
    CopyAllRun &run = model->copyAllRun();
    ASSERT_TRUE(run.start(chosen));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return intoTheLargeFile(run) || !run.isRunning(); }, 60s));
    ASSERT_TRUE(run.isRunning());
    EXPECT_LT(QFileInfo(target + largePath).size(), largeSize) << "quitting in the middle of the large file";

    // Once shutdown returns, the process exits: nothing of the copy may be left to do by then.
    finishWithin(model->shutdown(), 60s);
    EXPECT_FALSE(run.isRunning());
    EXPECT_EQ(run.outcome(), CopyAllRun::Outcome::stopped);
    EXPECT_FALSE(QFileInfo::exists(target + largePath)) << "the file cut short is gone";
    model.reset();

    model = AppModel::live(program);
    CopyAllRun &again = model->copyAllRun();
    ASSERT_TRUE(again.start(chosen));
    finishWithin(again.ended(), 120s);
    EXPECT_EQ(again.outcome(), CopyAllRun::Outcome::finished) << again.message().value_or(QString()).toStdString();
    EXPECT_TRUE(files(target) == source) << "the next copy completes the file";
}

TEST_F(AppModelUpstreamTest, SettingsChangesKeysAndSignOutOnARunningDrive)
{
    storeNewDrive();
    launch();
    model->windowOpened();
    write(mountFolder + QStringLiteral("/notes.txt"), "kept across renames\n");
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] {
            return model->pendingUploads() == 0
                && rclone({QStringLiteral("lsf"), QStringLiteral("drivecrypt:Drive")}).stdoutBytes == "notes.txt\n";
        },
        60s));

    // A bigger cache: stored, and the drive comes back. The room for it is this disk's free
    // space, which other work on the machine changes; the test gives it plenty.
    AppModelTestAccess::hooks(*model).freeDiskBytes = [] { return qint64(100'000'000'000); };
    ASSERT_TRUE(model->canChangeCache());
    finishWithin(model->changeCache(6), 90s);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return TestSupport::UpstreamEngine::isMounted(mountFolder); }, 30s));
    EXPECT_EQ(DriveSettings::load(*UserDefaults::standard())->cacheGB, 6);
    EXPECT_EQ(model->phase(), AppModelPhase{AppModelPhase::running});

    // Renamed while running: the new folder is the mount, the old one is not, the file is there.
    finishWithin(model->renameDrive(QStringLiteral("Work")), 120s);
    const QString renamed = DriveLayout::mountPath(QStringLiteral("Work"));
    EXPECT_TRUE(TestSupport::UpstreamEngine::isMounted(renamed));
    EXPECT_FALSE(TestSupport::UpstreamEngine::isMounted(mountFolder));
    EXPECT_TRUE(QDir(mountFolder).isEmpty()) << "nothing left behind in the old folder";
    EXPECT_EQ(DriveSettings::load(*UserDefaults::standard())->driveName, QStringLiteral("Work"));
    {
        QFile notes(renamed + QStringLiteral("/notes.txt"));
        ASSERT_TRUE(notes.open(QIODevice::ReadOnly));
        EXPECT_EQ(notes.readAll(), "kept across renames\n");
    }
    mountFolder = renamed;

    // New storage whose drive another passphrase made: refused, nothing changes.
    TestSupport::S3Server other;
    ASSERT_TRUE(other.start()) << other.output().toStdString();
    finishWithin(DriveConnection(QStandardPaths::findExecutable(QStringLiteral("rclone")))
                     .prepareNewDrive(QStringLiteral("another passphrase entirely"), other.secrets()),
                 60s);
    try {
        finishWithin(model->replaceStorageKeys(other.secrets(), std::nullopt), 90s);
        ADD_FAILURE() << "the stored passphrase doesn't open that drive";
    } catch (const AppModelError &error) {
        EXPECT_EQ(error.message, QStringLiteral("Your passphrase doesn't open the drive in that storage."));
    }
    EXPECT_EQ(finishWithin(store.load(), 30s)->first, server.secrets());
    EXPECT_FALSE(model->isChangingDrive());

    // Signing out: keys gone, local folders gone, the empty mount folder too.
    const DriveLocalData local = AppModelHooks::live(program).localData(*model->settings());
    const std::optional<SignOutStep> last = finishWithin(model->signOut(false), 120s);
    ASSERT_EQ(last, SignOutStep{SignOutStep::done}) << model->statusLine().toStdString();
    EXPECT_EQ(finishWithin(store.load(), 30s), std::nullopt);
    for (const QString &folder : {local.cache, local.logs, local.keep, local.mountFolder})
        EXPECT_FALSE(QFileInfo::exists(folder)) << folder.toStdString();
    EXPECT_EQ(model->phase(), AppModelPhase{AppModelPhase::needsSetup});
    EXPECT_FALSE(UserDefaults::standard()->contains(QStringLiteral("driveSettings")));
    EXPECT_EQ(rclone({QStringLiteral("cat"), QStringLiteral("drivecrypt:Drive/notes.txt")}).stdoutBytes,
              "kept across renames\n")
        << "the files in the bucket stay";
}

TEST_F(AppModelUpstreamTest, AForcedSignOutDiscardsUploadsThatCannotFinish)
{
    storeNewDrive();
    launch();
    // Saved, then the storage goes away within the engine's 5 s write-back: it cannot upload.
    write(mountFolder + QStringLiteral("/stuck.txt"), "never uploaded\n");
    server.stop();
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] {
            finishWithin(model->refresh(), 30s);
            return model->pendingUploads() >= 1;
        },
        60s));
    const std::optional<SignOutStep> last = finishWithin(model->signOut(true), 120s);
    ASSERT_EQ(last, SignOutStep{SignOutStep::done});
    EXPECT_TRUE(model->signOutDiscardedFiles());
    EXPECT_EQ(finishWithin(store.load(), 30s), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(cacheDir));
    EXPECT_TRUE(LeftoverDrive::find(cacheDir).empty());
}

} // namespace
