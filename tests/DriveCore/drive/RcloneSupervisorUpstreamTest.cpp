// The drive end to end: the supervisor runs Debian's rclone (through the upstream-engine
// wrapper, as the engine program) over an S3 server on loopback, with the file-system layer on
// top; a file saved in the mount folder ends up encrypted in the bucket.
#include "SupervisorFixture.h"

#include "DriveCore/platform/ProcessListing.h"
#include "DriveCore/platform/ProcessRunner.h"
#include "support/S3Server.h"
#include "support/TestSupport.h"
#include "support/UpstreamEngine.h"

#include <QFile>

#include <csignal>

#include <gtest/gtest.h>

using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::await;
using State = SupervisorState;

namespace SupervisorTest {

class SupervisorUpstreamTest : public SupervisorTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start()) << server.output().toStdString();
        program = TestSupport::UpstreamEngine::program();
        secrets = server.secrets();
    }

    // Runs rclone by hand on the drive's remotes, as another computer would.
    RcloneResult rclone(const QStringList &arguments)
    {
        Environment environment = RcloneCommand::environment(secrets, RcloneCommand::obscure(passphrase));
        environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
        environment.insert(QStringLiteral("HOME"), home.path());
        return await(ProcessRunner::run(QStringLiteral("/usr/bin/rclone"), arguments, environment));
    }

    TestSupport::S3Server server;
};

TEST_F(SupervisorUpstreamTest, AFileSavedInTheDriveIsUploadedEncryptedBeforeTheDriveStops)
{
    start(DriveEngine::fskit);
    ASSERT_EQ(supervisor().state(), State{State::running});
    ASSERT_TRUE(waitFor([&] { return supervisor().fskitLayerMounted(); }, 30s))
        << supervisorLog().join(u'\n').toStdString();
    EXPECT_EQ(mountedAt(backing), QStringList{"rclone"});
    EXPECT_EQ(mountedAt(mountFolder), QStringList{"ovra"});
    ASSERT_TRUE(engineAnswers());

    const QByteArray text = "Minutes of the meeting, in confidence.\n";
    {
        QFile file(mountFolder + QStringLiteral("/notes.txt"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(text), text.size());
    }
    // The layer passes the close on to the engine a moment later; from then on the engine
    // holds the upload back for 5 s, and the stop waits for it.
    const RCClient rc = *supervisor().rc();
    ASSERT_TRUE(waitFor([&] { return await(hooks.pendingUploads(rc, {})) == 1; }));
    stop(true);
    EXPECT_EQ(supervisor().state(), State{State::stopped});
    EXPECT_FALSE(pauses(1s).empty()) << "the stop found an upload pending";
    EXPECT_TRUE(mountedAt(mountFolder).isEmpty());
    EXPECT_TRUE(mountedAt(backing).isEmpty());

    const QStringList objects = server.objectNames();
    ASSERT_EQ(objects.size(), 1) << objects.join(u',').toStdString();
    EXPECT_FALSE(objects[0].contains(QStringLiteral("notes"))) << "names are encrypted";
    EXPECT_FALSE(objects[0].contains(QStringLiteral("Drive")));
    const RcloneResult raw =
        rclone({QStringLiteral("cat"), QStringLiteral("drive:") + secrets.bucket + u'/' + objects[0]});
    ASSERT_EQ(raw.status, 0) << raw.stderrText().toStdString();
    EXPECT_FALSE(raw.stdoutBytes.contains(text)) << "contents are encrypted";

    const RcloneResult plain = rclone({QStringLiteral("cat"), QStringLiteral("drivecrypt:Drive/notes.txt")});
    ASSERT_EQ(plain.status, 0) << plain.stderrText().toStdString();
    EXPECT_EQ(plain.stdoutBytes, text);
}

// The application and its engine both die at once (a kill of both, say) while a file waits to
// be uploaded: the engine's mount stays behind, dead, and the next start clears it, mounts the
// drive again and uploads the file from the cache.
TEST_F(SupervisorUpstreamTest, AfterTheAppAndItsEngineWereKilledTheNextStartUploadsWhatWasPending)
{
    auto crashed =
        std::make_unique<RcloneSupervisor>(RcloneCommand(program), launcher, hooks, RcloneSupervisor::Observers{});
    EXPECT_NO_THROW(await(crashed->start(settings, secrets, passphrase, false, DriveEngine::nfs)));
    ASSERT_TRUE(waitFor([&] { return mountedAt(mountFolder) == QStringList{"rclone"}; }, 30s));
    const QByteArray text = "Written just before the power went.\n";
    {
        QFile file(mountFolder + QStringLiteral("/pending.txt"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(text), text.size());
    }
    const RCClient rc = *crashed->rc();
    ASSERT_TRUE(waitFor([&] { return await(hooks.pendingUploads(rc, {})) == 1; }));
    // The application goes without a word to its engine, and the engine is killed.
    crashed.reset();
    ::kill(pid(1), SIGKILL);
    ASSERT_TRUE(waitFor([&] { return ProcessListing::hasEnded(pid(1)); }));
    ASSERT_EQ(mountedAt(mountFolder), QStringList{"rclone"}) << "the dead mount stays listed";
    ASSERT_TRUE(server.objectNames().isEmpty()) << "the engine died before its upload";

    start();
    ASSERT_EQ(supervisor().state(), State{State::running}) << supervisorLog().join(u'\n').toStdString();
    EXPECT_TRUE(waitFor([&] { return contents(mountFolder + QStringLiteral("/pending.txt")) == text; }, 30s));
    EXPECT_TRUE(waitFor([&] { return server.objectNames().size() == 1; }, 30s))
        << server.objectNames().join(u',').toStdString();
    const RcloneResult uploaded = rclone({QStringLiteral("cat"), QStringLiteral("drivecrypt:Drive/pending.txt")});
    ASSERT_EQ(uploaded.status, 0) << uploaded.stderrText().toStdString();
    EXPECT_EQ(uploaded.stdoutBytes, text);
}

} // namespace SupervisorTest
