// The kept-files list filters and sorts every kept item on each keystroke in its search field.
#include "DriveCore/services/KeptBrowser.h"

#include <benchmark/benchmark.h>

#include <random>

using namespace DriveCore;

namespace {

// 5,000 kept items below a few top folders, some with accented names in either form.
QList<PinStatus> makeRows()
{
    std::mt19937 random(7);
    const auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    const QStringList top{QStringLiteral("Documents"), QStringLiteral("Photos"), QStringLiteral("Caf\u00e9 Notes"),
                          QStringLiteral("Cafe\u0301 Notes"), QStringLiteral("Music")};
    QList<PinStatus> rows;
    for (int i = 0; i < 5000; ++i) {
        const QString path =
            QStringLiteral("%1/Group %2/file %3.pdf").arg(top[below(int(top.size()))]).arg(below(40)).arg(i);
        rows.append({path, i % 7 == 0, 1, 1, qint64(below(1'000'000)), 0, QStringLiteral("done")});
    }
    return rows;
}

void filterAndSort(benchmark::State &state, const QString &query, KeptBrowser::Sort sort)
{
    const QList<PinStatus> rows = makeRows();
    for (auto _ : state)
        benchmark::DoNotOptimize(KeptBrowser::items(rows, query, sort));
}

BENCHMARK_CAPTURE(filterAndSort, everyRowByName, QString(), KeptBrowser::Sort::name)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(filterAndSort, everyRowByFolder, QString(), KeptBrowser::Sort::folder)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(filterAndSort, searchedBySize, QStringLiteral("cafe"), KeptBrowser::Sort::size)
    ->Unit(benchmark::kMillisecond);

void localBytes(benchmark::State &state)
{
    const QList<PinStatus> rows = makeRows();
    for (auto _ : state)
        benchmark::DoNotOptimize(KeptBrowser::localBytes(rows));
}
BENCHMARK(localBytes)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
