// The whole application with a running drive, as a user has it after setup: the file-system
// layer over Debian's rclone (tools/upstream-engine) and the loopback S3 service, a tray on the
// session bus and no window open. Run it under a private session bus and keyring:
//
//   tests/support/keyring-session build/bench/WholeAppBench
//
// 1. Idle cost over 60 s: the application's CPU time as a share of one core and its resident
//    memory (the engine, a process of its own, left out). Goals: below 0.5% and 80 MB.
// 2. The layer's price: a 1 GiB file written and then read through the mount folder (the layer)
//    against the same through the engine's own mount of the same drive. Each file is written,
//    left to upload, and dropped from the page cache before it is read; the two sides take
//    turns going first (2 writes, 5 reads each) and the medians are compared. Goal: at least
//    0.9 of the engine's own throughput both ways.
#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/platform/MountTable.h"
#include "DriveCore/platform/ProcessListing.h"
#include "support/FinishedSetup.h"
#include "support/FuseMount.h"
#include "support/S3Server.h"
#include "support/StatusNotifierStandIn.h"
#include "support/TestSupport.h"
#include "support/UpstreamEngine.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

using namespace DriveCore;
using namespace std::chrono_literals;

namespace {

constexpr qint64 fileSize = qint64(1) << 30;
constexpr qint64 chunk = qint64(4) << 20;

// User and system CPU seconds of `pid` so far.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // Fields after the command name, which may hold spaces, start after its closing parenthesis.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return double(fields.value(11).toLongLong() + fields.value(12).toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// MB/s writing `size` bytes of `block` repeated to `path`, flushed to the file system.
double writeRate(const QString &path, const QByteArray &block)
{
    QElapsedTimer timer;
    timer.start();
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return 0;
    for (qint64 written = 0; written < fileSize; written += block.size())
        if (::write(fd, block.constData(), size_t(block.size())) != block.size()) {
            ::close(fd);
            return 0;
        }
    ::fsync(fd);
    ::close(fd);
    return double(fileSize) / 1e6 / (double(timer.nsecsElapsed()) / 1e9);
}

// MB/s reading `path` whole, after dropping its cached pages.
double readRate(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return 0;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    QByteArray buffer(chunk, Qt::Uninitialized);
    QElapsedTimer timer;
    timer.start();
    qint64 total = 0;
    for (ssize_t got; (got = ::read(fd, buffer.data(), size_t(buffer.size()))) > 0;)
        total += got;
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    ::close(fd);
    return total == fileSize ? double(total) / 1e6 / seconds : 0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        std::fprintf(stderr, "Run under tests/support/keyring-session.\n");
        return 2;
    }
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    for (const auto &[variable, folder] : {std::pair{"XDG_CONFIG_HOME", "config"}, std::pair{"XDG_DATA_HOME", "data"},
                                           std::pair{"XDG_STATE_HOME", "state"}, std::pair{"XDG_CACHE_HOME", "cache"}})
        qputenv(variable, QFile::encodeName(home.filePath(QString::fromLatin1(folder))));

    TestSupport::S3Server server(QStringLiteral("my-drive"));
    if (!server.start()) {
        std::fprintf(stderr, "The S3 service did not start: %s\n", qPrintable(server.output()));
        return 1;
    }
    TestSupport::StatusNotifierStandIn tray;
    tray.publish(QDBusConnection::sessionBus());
    const DriveSettings settings{.driveName = QStringLiteral("Bench Drive"),
                                 .cacheGB = 5,
                                 .deviceID = QUuid::createUuid(),
                                 .deviceName = QStringLiteral("Bench")};
    const QString keyService =
        TestSupport::storeFinishedSetup(home.filePath(QStringLiteral("config/com.corvane.drive.json")), settings,
                                        std::nullopt, server.secrets(), QStringLiteral("bench passphrase"));
    const QString layer = DriveLayout::mountPath(settings.driveName);
    const QString backing = DriveLayout::backingPath(settings.deviceID);

    QProcess app;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("CORVANE_DRIVE_RCLONE"), TestSupport::UpstreamEngine::program());
    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(QStringLiteral(CORVANE_APP_PROGRAM), {});
    const auto cleanUp = [&] {
        app.kill();
        app.waitForFinished(10000);
        for (const pid_t pid : ProcessListing::all())
            if (ProcessListing::arguments(pid).join(u' ').contains(DriveLayout::cacheDir(settings.deviceID)))
                ::kill(pid, SIGKILL);
        TestSupport::FuseMount(layer).unmount();
        TestSupport::FuseMount(backing).unmount();
    };
    const bool up = TestSupport::spinUntil(
        [&] { return !MountTable::typesMountedAt(layer).isEmpty() && !MountTable::typesMountedAt(backing).isEmpty(); },
        90s);
    if (!up) {
        std::fprintf(stderr, "The drive did not come up.\n");
        cleanUp();
        return 1;
    }
    // The start's own work (the first refreshes, the change watch's walk) out of the way.
    TestSupport::spinUntil([] { return false; }, 15s);

    const double cpuBefore = cpuSeconds(app.processId());
    QElapsedTimer idle;
    idle.start();
    TestSupport::spinUntil([] { return false; }, 60s);
    const double share = (cpuSeconds(app.processId()) - cpuBefore) / (double(idle.nsecsElapsed()) / 1e9);
    const qint64 rss = residentKiB(app.processId());
    std::printf("Idle, 60 s, no window: %.3f%% of a core (goal < 0.5%%), resident %.1f MB (goal < 80 MB)\n",
                share * 100, double(rss) / 1024);

    QByteArray block(chunk, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
    qint64 stored = server.bytesStored();
    const auto uploaded = [&] {
        const bool done = TestSupport::spinUntil([&] { return server.bytesStored() - stored >= fileSize; }, 600s);
        stored = server.bytesStored();
        return done;
    };
    // The machine may be shared, and whichever side goes first may meet other work: the sides
    // take turns going first, and each figure is the median of its runs.
    constexpr int writeRounds = 2;
    constexpr int readRounds = 5;
    const auto fileIn = [](const QString &folder, const char *side, int round) {
        return folder + QStringLiteral("/through-%1-%2.bin").arg(QLatin1String(side)).arg(round);
    };
    std::vector<double> layerWrites, engineWrites, layerReads, engineReads;
    bool allUploaded = true;
    for (int round = 0; round < writeRounds; ++round) {
        const auto writeLayer = [&] {
            layerWrites.push_back(writeRate(fileIn(layer, "layer", round), block));
            allUploaded = uploaded() && allUploaded;
        };
        const auto writeEngine = [&] {
            engineWrites.push_back(writeRate(fileIn(backing, "engine", round), block));
            allUploaded = uploaded() && allUploaded;
        };
        if (round % 2 == 0) {
            writeLayer();
            writeEngine();
        } else {
            writeEngine();
            writeLayer();
        }
    }
    for (int round = 0; round < readRounds; ++round) {
        const auto readLayer = [&] { layerReads.push_back(readRate(fileIn(layer, "layer", round % writeRounds))); };
        const auto readEngine = [&] {
            engineReads.push_back(readRate(fileIn(backing, "engine", round % writeRounds)));
        };
        if (round % 2 == 0) {
            readLayer();
            readEngine();
        } else {
            readEngine();
            readLayer();
        }
    }
    const auto report = [](const char *what, std::vector<double> layerRates, std::vector<double> engineRates,
                           const char *note) {
        std::string runs;
        for (size_t i = 0; i < layerRates.size(); ++i)
            runs +=
                (i == 0 ? "" : ", ") + std::to_string(int(layerRates[i])) + '/' + std::to_string(int(engineRates[i]));
        const double layerRate = median(std::move(layerRates));
        const double engineRate = median(std::move(engineRates));
        std::printf("1 GiB %s layer %.0f MB/s, engine's mount %.0f MB/s, ratio %.2f (goal >= 0.9); runs %s%s\n", what,
                    layerRate, engineRate, engineRate > 0 ? layerRate / engineRate : 0, runs.c_str(), note);
    };
    report("write:", layerWrites, engineWrites, allUploaded ? "" : " (an upload did not finish)");
    report("read: ", layerReads, engineReads, "");

    cleanUp();
    TestSupport::await(KeychainSecretStore(keyService).deleteAll());
    return 0;
}
