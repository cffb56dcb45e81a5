// The plug-in refreshes up to 10,000 badges at once against one snapshot.
#include "KeepShared/FinderBadges.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

using namespace KeepShared;

namespace {

struct Workload {
    std::vector<FinderBadgePin> pins;
    std::vector<std::string> pending;
    std::vector<std::string> paths;
};

// 2,000 pins (folders and files), 2,000 pending uploads and 10,000 paths to badge, some of them
// with accented names in either form.
Workload makeWorkload()
{
    std::mt19937 random(7);
    const auto below = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    const std::vector<std::string> top{"Documents",       "Photos",           "Projects",
                                       "Caf\u00e9 Notes", "Cafe\u0301 Notes", "Music"};
    const auto folder = [&] {
        return top[below(top.size())] + "/Group " + std::to_string(below(40)) + "/Item " + std::to_string(below(50));
    };

    Workload work;
    const std::vector<std::string> states{"done", "done", "done", "missing", "downloading", "lowSpace"};
    for (int i = 0; i < 2000; ++i) {
        const bool isDir = i % 3 != 0;
        work.pins.push_back(
            {isDir ? folder() : folder() + "/file " + std::to_string(i) + ".pdf", isDir, states[below(states.size())]});
    }
    for (int i = 0; i < 2000; ++i)
        work.pending.push_back(folder() + "/upload " + std::to_string(i) + ".dat");
    // A quarter each: kept items, items inside kept items, pending uploads, and other paths.
    for (int i = 0; i < 10000; ++i) {
        const std::string &pinned = work.pins[below(work.pins.size())].path;
        switch (i % 4) {
        case 0:
            work.paths.push_back(pinned);
            break;
        case 1:
            work.paths.push_back(pinned + "/Sub/photo " + std::to_string(i) + ".jpg");
            break;
        case 2:
            work.paths.push_back(work.pending[below(work.pending.size())]);
            break;
        default:
            work.paths.push_back(folder() + "/other " + std::to_string(i) + ".txt");
            break;
        }
    }
    return work;
}

const Workload &workload()
{
    static const Workload work = makeWorkload();
    return work;
}

void badgeTenThousandPaths(benchmark::State &state)
{
    const Workload &work = workload();
    const FinderBadgeSnapshot snapshot("/home/ann/Mounts/Drive", work.pins, work.pending, true, true);
    for (auto _ : state) {
        for (const std::string &path : work.paths)
            benchmark::DoNotOptimize(snapshot.badge(path));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * work.paths.size()));
}
BENCHMARK(badgeTenThousandPaths)->Unit(benchmark::kMillisecond);

// The call the plug-in makes per item: from the item's location, through the mount folder, to
// the badge.
void badgeForTenThousandLocations(benchmark::State &state)
{
    const Workload &work = workload();
    const std::string mount = "/home/ann/Mounts/Drive";
    const FinderBadgeSnapshot snapshot(mount, work.pins, work.pending, true, true);
    std::vector<std::string> locations;
    locations.reserve(work.paths.size());
    for (const std::string &path : work.paths)
        locations.push_back(mount + "/" + path);
    for (auto _ : state) {
        for (const std::string &location : locations)
            benchmark::DoNotOptimize(snapshot.badgeFor(location));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * locations.size()));
}
BENCHMARK(badgeForTenThousandLocations)->Unit(benchmark::kMillisecond);

// What each received snapshot costs before its first badge.
void buildSnapshot(benchmark::State &state)
{
    const Workload &work = workload();
    for (auto _ : state)
        benchmark::DoNotOptimize(FinderBadgeSnapshot("/home/ann/Mounts/Drive", work.pins, work.pending, true, true));
}
BENCHMARK(buildSnapshot)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
