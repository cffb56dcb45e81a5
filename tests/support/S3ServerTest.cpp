#include "support/S3Server.h"

#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/platform/ProcessRunner.h"
#include "support/TestSupport.h"

#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace DriveCore;
using TestSupport::await;

// The engine program, with the drive's own remotes, writes through the encrypting remote into
// the server's bucket and reads the file back: the fixture every storage test builds on.
TEST(S3Server, ServesTheDrivesRemotesToTheEngineProgram)
{
    TestSupport::S3Server server;
    ASSERT_TRUE(server.start()) << server.output().toStdString();
    const QString rclone = QStandardPaths::findExecutable(QStringLiteral("rclone"));
    Environment environment = RcloneCommand::environment(server.secrets(), RcloneCommand::obscure(QStringLiteral("pass")));
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));

    const auto put = await(ProcessRunner::run(rclone, {QStringLiteral("rcat"), QStringLiteral("drivecrypt:Drive/a.txt")},
                                              environment, QByteArray("hello\n")));
    ASSERT_EQ(put.status, 0) << put.stderrText().toStdString();
    const QStringList names = server.objectNames();
    ASSERT_EQ(names.size(), 1);
    EXPECT_FALSE(names.first().contains(QStringLiteral("a.txt"))) << "names are encrypted";

    const auto get = await(ProcessRunner::run(rclone, {QStringLiteral("cat"), QStringLiteral("drivecrypt:Drive/a.txt")},
                                              environment));
    EXPECT_EQ(get.stdoutBytes, "hello\n");
}
