// The whole production model over a real drive: AppModel::live with Debian's rclone as the
// engine (mounting over FUSE) and for the one-shot commands, an S3 server on loopback, the keys
// in a private keyring (keyring-session) and the settings in a private configuration folder.
#include "AppModelFixture.h"

#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/DriveProfile.h"
#include "DriveCore/platform/ProcessRunner.h"
#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/keys/OrganisePending.h"
#include "DriveCore/mount/LeftoverDrive.h"
#include "DriveCore/platform/MountTable.h"
#include "support/FuseMount.h"
#include "support/S3Server.h"
#include "support/UpstreamEngine.h"

#include <QFile>
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
        // One program for both roles: the mount command goes to the engine wrapper, every
        // one-shot command to rclone itself.
        program = TestSupport::writeScript(home.filePath(QStringLiteral("engine")),
                                           QStringLiteral("if [ \"$1\" = nfsmount ]; then exec '%1' \"$@\"; fi\nexec '%2' \"$@\"\n")
                                               .arg(TestSupport::UpstreamEngine::program(),
                                                    QStandardPaths::findExecutable(QStringLiteral("rclone"))));
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
        for (const ProcessHandle &engine : LeftoverDrive::find(cacheDir))
            engine.signal(SIGKILL);
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
};

TEST_F(AppModelUpstreamTest, ALaunchedDriveUploadsEncryptedAndShutdownLeavesNothingRunning)
{
    // As setup leaves a new drive: keys in the keyring, settings stored, organising still owed.
    KeychainSecretStore store(DriveProfile::keychainService(std::nullopt));
    finishWithin(store.save(server.secrets(), passphrase), 30s);
    auto defaults = UserDefaults::standard();
    settings.save(*defaults);
    DriveEngine(DriveEngine::nfs).save(*defaults);
    OrganisePending::save(OrganiseKind::newDrive, *defaults);

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
        [&] { return rclone({QStringLiteral("lsf"), QStringLiteral("drivecrypt:Drive")}).stdoutBytes == "notes.txt\n"; }, 60s));
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

} // namespace
