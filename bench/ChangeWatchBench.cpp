// What change sync's file watch costs at every launch of the engine: it places one inotify
// watch per folder by listing every folder of the drive through the engine's mount (here the
// fake engine's FUSE mount), over a drive of 10,000 folders (100 folders of 100 each). The time
// runs from start() until the walk has ended.
#include "DriveCore/mount/LocalChangeSources.h"
#include "DriveCore/platform/MountTable.h"
#include "support/fake-engine/FakeEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QThread>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

using namespace DriveCore;

namespace {

constexpr int foldersPerLevel = 100;

std::unique_ptr<TestSupport::FakeEngine> engine;
QString mountPoint;

void watchWalk(benchmark::State &state)
{
    std::size_t watched = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        FSEventsChangeSource source(mountPoint);
        source.start([](const LocalChange &) {});
        while (!source.watchedFolders()) {
            if (timer.hasExpired(600'000)) {
                state.SkipWithError("the walk did not end within 10 minutes");
                return;
            }
            QThread::usleep(200);
        }
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        watched = *source.watchedFolders();
        source.stop();
    }
    state.counters["folders_watched"] = double(watched);
}
BENCHMARK(watchWalk)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    engine = std::make_unique<TestSupport::FakeEngine>(QJsonObject{{QStringLiteral("mount"), true}});
    const QString drive = engine->bucket() + QStringLiteral("/Drive");
    for (int outer = 0; outer < foldersPerLevel; ++outer) {
        for (int inner = 0; inner < foldersPerLevel - 1; ++inner)
            QDir().mkpath(drive + QStringLiteral("/Folder %1/Inner %2").arg(outer).arg(inner));
    }
    mountPoint = engine->folder() + QStringLiteral("/mount");
    QDir().mkpath(mountPoint);
    if (!engine->start()) {
        std::fprintf(stderr, "the fake engine did not start\n");
        return 1;
    }
    for (int attempt = 0; attempt < 1000 && !MountTable::typesMountedAt(mountPoint).contains(QStringLiteral("rclone"));
         ++attempt)
        QThread::msleep(10);
    if (!MountTable::typesMountedAt(mountPoint).contains(QStringLiteral("rclone"))) {
        std::fprintf(stderr, "the fake engine did not mount its folder\n");
        return 1;
    }

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    engine.reset();
    return 0;
}
