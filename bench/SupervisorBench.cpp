// How long the drive takes to come up and to go down with the production hooks and launcher,
// on the fake engine (which mounts its folder through FUSE like the engine): from `start` to
// `running` (folders, the scan for leftover engines, the launch), until the engine answers its
// first ping, and from `stop` to `stopped` (SIGINT, the engine unmounting, the exit polls of
// 0.5 s).
#include "DriveCore/drive/RcloneSupervisor.h"
#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/platform/RealLauncher.h"
#include "support/fake-engine/FakeEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <exception>
#include <memory>

using namespace DriveCore;

namespace {

struct Drive {
    QTemporaryDir home;
    DriveSettings settings{.driveName = QStringLiteral("Bench Drive"),
                           .deviceID = QUuid::createUuid(),
                           .deviceName = QStringLiteral("Bench")};
    StorageSecrets secrets{.endpoint = QStringLiteral("http://127.0.0.1:9"),
                           .bucket = QStringLiteral("bucket"),
                           .accessKeyID = QStringLiteral("AKIABENCH"),
                           .secretAccessKey = QStringLiteral("bench")};
    std::unique_ptr<RcloneSupervisor> supervisor;
};

std::unique_ptr<Drive> drive;

double seconds(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

// False when the drive did not start; the supervisor has logged why.
bool start()
{
    try {
        QCoro::waitFor(drive->supervisor->start(drive->settings, drive->secrets, QStringLiteral("passphrase"), false));
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

bool answers()
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const auto rc = drive->supervisor->rc();
        if (rc && QCoro::waitFor(rc->ping()))
            return true;
        QThread::msleep(1);
    }
    return false;
}

void startToRunning(benchmark::State &state)
{
    double untilAnswer = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const bool started = start();
        const double running = seconds(timer);
        if (!started || drive->supervisor->state().kind != SupervisorState::running || !answers()) {
            state.SkipWithError("the drive did not start");
            return;
        }
        untilAnswer += seconds(timer);
        state.SetIterationTime(running);
        QCoro::waitFor(drive->supervisor->stop(false));
    }
    state.counters["until_first_answer_ms"] = 1000 * untilAnswer / double(state.iterations());
}
BENCHMARK(startToRunning)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void stopToStopped(benchmark::State &state)
{
    for (auto _ : state) {
        if (!start() || !answers()) {
            state.SkipWithError("the drive did not start");
            return;
        }
        QElapsedTimer timer;
        timer.start();
        QCoro::waitFor(drive->supervisor->stop(false));
        state.SetIterationTime(seconds(timer));
        if (drive->supervisor->state().kind != SupervisorState::stopped) {
            state.SkipWithError("the drive did not stop");
            return;
        }
    }
}
BENCHMARK(stopToStopped)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

int main(int argc, char **argv)
{
    drive = std::make_unique<Drive>();
    const QString home = drive->home.path();
    qputenv("HOME", home.toUtf8());
    qputenv("XDG_DATA_HOME", (home + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_STATE_HOME", (home + QStringLiteral("/state")).toUtf8());
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    const QString scenario = drive->home.filePath(QStringLiteral("scenario.json"));
    QDir().mkpath(drive->home.filePath(QStringLiteral("bucket/Drive")));
    TestSupport::FakeEngine::writeScenario(
        scenario,
        {{QStringLiteral("bucket"), drive->home.filePath(QStringLiteral("bucket"))}, {QStringLiteral("mount"), true}});
    const QString program =
        TestSupport::FakeEngine::writeWrapper(drive->home.filePath(QStringLiteral("engine")), scenario);
    drive->supervisor = std::make_unique<RcloneSupervisor>(RcloneCommand(program), std::make_shared<RealLauncher>(),
                                                           SupervisorHooks::live(), RcloneSupervisor::Observers{});

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    QCoro::waitFor(drive->supervisor->stop(false));
    drive.reset();
    return 0;
}
