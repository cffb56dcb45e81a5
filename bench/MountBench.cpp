// What the mount waits and the start of the drive cost: one poll of the mount table (every
// 0.2 s while a mount is awaited), one scan of /proc for leftover engines (at every start),
// and a refresh pass over a folder of the largest size refreshed (2000 files).
#include "DriveCore/mount/FSKitRefresh.h"
#include "DriveCore/mount/LeftoverDrive.h"
#include "DriveCore/platform/MountTable.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace DriveCore;

namespace {

void mountTablePoll(benchmark::State &state)
{
    const QString path = QDir::homePath() + QStringLiteral("/Mounts/My Drive");
    for (auto _ : state)
        benchmark::DoNotOptimize(MountTable::typesMountedAt(path));
    state.counters["mounts"] = double(MountTable::read().size());
}
BENCHMARK(mountTablePoll)->Unit(benchmark::kMicrosecond);

void leftoverScan(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(LeftoverDrive::find(QStringLiteral("/nonexistent/Cache/ID")));
    state.counters["processes"] = double(ProcessListing::all().size());
}
BENCHMARK(leftoverScan)->Unit(benchmark::kMillisecond);

void refreshPass(benchmark::State &state)
{
    QTemporaryDir folder;
    for (int i = 0; i < FSKitRefresh::maxItems; ++i) {
        QFile file(folder.filePath(QStringLiteral("file %1.txt").arg(i)));
        file.open(QIODevice::WriteOnly);
    }
    const auto later = FSKitRefresh::Clock::now() + std::chrono::hours(1);
    for (auto _ : state)
        benchmark::DoNotOptimize(FSKitRefresh::refreshFiles(folder.path(), later));
    state.SetItemsProcessed(state.iterations() * FSKitRefresh::maxItems);
}
BENCHMARK(refreshPass)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
