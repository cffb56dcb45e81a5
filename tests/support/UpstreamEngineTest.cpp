#include "support/UpstreamEngine.h"

#include "support/S3Server.h"
#include "support/ScopedEnvironment.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace DriveCore;
using TestSupport::UpstreamEngine;

namespace {

QByteArray procFile(qint64 pid, const char *name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The drive's own command line and environment run Debian's rclone as a FUSE mount, with the
// engine's added flags left out and nothing of the test's environment passed on.
TEST(UpstreamEngine, MountsTheDriveFromItsOwnCommandLineAndEnvironment)
{
    TestSupport::ScopedEnvironment env;
    env.set("AWS_CA_BUNDLE", "/nonexistent/ca.pem");
    TestSupport::S3Server server;
    ASSERT_TRUE(server.start()) << server.output().toStdString();

    for (const auto &[engine, readOnly] : {std::pair{DriveEngine::nfs, false}, std::pair{DriveEngine::fskit, true}}) {
        const DriveSettings settings{.driveName = QStringLiteral("My Drive"),
                                     .deviceID = QUuid::createUuid(),
                                     .deviceName = QStringLiteral("Laptop")};
        QString mountPoint;
        {
            UpstreamEngine machine(server, {.settings = settings, .engine = engine, .readOnly = readOnly});
            ASSERT_TRUE(machine.start()) << machine.output().toStdString();
            mountPoint = machine.mountPoint();
            EXPECT_TRUE(mountPoint.startsWith(machine.home() + u'/'));
            EXPECT_TRUE(UpstreamEngine::isMounted(mountPoint));

            const QList<QByteArray> arguments = procFile(machine.processId(), "cmdline").split('\0');
            EXPECT_EQ(arguments.value(1), "mount");
            EXPECT_TRUE(arguments.contains("--cache-dir"));
            for (const char *dropped : {"--vfs-pin-file", "--vfs-trash-dir", "--vfs-conflict-copy", "--option"})
                EXPECT_FALSE(arguments.contains(dropped)) << dropped;
            EXPECT_EQ(arguments.contains("--read-only"), readOnly);
            const QByteArray environment = procFile(machine.processId(), "environ");
            EXPECT_TRUE(environment.contains("RCLONE_CONFIG_DRIVECRYPT_REMOTE=drive:bucket"));
            EXPECT_FALSE(environment.contains("AWS_CA_BUNDLE"));

            if (!readOnly) {
                QFile file(mountPoint + QStringLiteral("/hello.txt"));
                ASSERT_TRUE(file.open(QIODevice::WriteOnly));
                file.write("hello\n");
                file.close();
                EXPECT_TRUE(
                    TestSupport::spinUntil([&] { return !server.objectNames().isEmpty(); }, std::chrono::seconds(30)))
                    << machine.output().toStdString();
                // The engine says whether its cache disk is full; the status line reads it.
                const VFSStats stats =
                    QCoro::waitFor(machine.client().vfsStats(QString::fromLatin1(RCClient::mountFs)));
                EXPECT_EQ(stats.diskCache.outOfSpace, std::optional<bool>(false));
            }
        }
        EXPECT_FALSE(UpstreamEngine::isMounted(mountPoint)) << "stopped and unmounted";
    }
}

} // namespace
