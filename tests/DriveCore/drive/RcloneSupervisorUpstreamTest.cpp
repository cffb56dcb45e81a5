// The drive end to end: the supervisor runs Debian's rclone (through the upstream-engine
// wrapper, as the engine program) over an S3 server on loopback, with the file-system layer on
// top; a file saved in the mount folder ends up encrypted in the bucket.
#include "SupervisorFixture.h"

#include "DriveCore/platform/ProcessRunner.h"
#include "support/S3Server.h"
#include "support/TestSupport.h"
#include "support/UpstreamEngine.h"

#include <QFile>

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
    ASSERT_TRUE(waitFor([&] { return supervisor().fskitLayerMounted(); }, 30s)) << supervisorLog().join(u'\n').toStdString();
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
    const RcloneResult raw = rclone({QStringLiteral("cat"), QStringLiteral("drive:") + secrets.bucket + u'/' + objects[0]});
    ASSERT_EQ(raw.status, 0) << raw.stderrText().toStdString();
    EXPECT_FALSE(raw.stdoutBytes.contains(text)) << "contents are encrypted";

    const RcloneResult plain = rclone({QStringLiteral("cat"), QStringLiteral("drivecrypt:Drive/notes.txt")});
    ASSERT_EQ(plain.status, 0) << plain.stderrText().toStdString();
    EXPECT_EQ(plain.stdoutBytes, text);
}

} // namespace SupervisorTest
