// Name search over a drive of a million files and folders: building the index once per refresh,
// and answering one query of two words, which the search window does on every keystroke.
#include "DriveCore/services/DriveSearch.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

using namespace DriveCore;

namespace {

constexpr int entryCount = 1'000'000;

// Paths four folders deep at most, names from a vocabulary of plain and accented words, some
// decomposed, with numbers and years; about one in six is a folder. Folders are picked at
// random, so a word of a common folder name is in most paths: a query's first word finds
// hundreds of thousands of entries.
const QList<ListItem> &listing()
{
    static const QList<ListItem> items = [] {
        std::mt19937 random(11);
        const auto below = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
        const QStringList words{
            "Report",        "Invoice", "Photos",   "Holiday", "Budget",  "Notes",      "Project",
            "Draft",         "Scan",    "Contract", "Résumé",  "Café",    "Über",       "Naïve",
            "São Paulo",     "Crème",   "Zürich",   "Ελλάδα",  "東京",    "Smørrebrød", "Cafe\u0301",
            "Mu\u0308nchen", "backup",  "final",    "copy",    "meeting",
        };
        const QStringList extensions{".pdf", ".jpg", ".docx", ".xlsx", ".txt", ".png", ".mov", ""};
        const auto name = [&] {
            QString text = words[qsizetype(below(size_t(words.size())))];
            if (below(2) == 0)
                text += u' ' + words[qsizetype(below(size_t(words.size())))];
            if (below(3) == 0)
                text += u' ' + QString::number(2015 + below(12));
            if (below(2) == 0)
                text += u' ' + QString::number(below(200));
            return text;
        };
        QList<ListItem> made;
        made.reserve(entryCount);
        QStringList folders{QString()};
        while (made.size() < entryCount) {
            const QString &parent = folders[qsizetype(below(size_t(folders.size())))];
            const bool isDir = below(6) == 0 && parent.count(u'/') < 3;
            const QString own = name() + (isDir ? QString() : extensions[qsizetype(below(size_t(extensions.size())))]);
            const QString path = parent.isEmpty() ? own : parent + u'/' + own;
            made.append({path, own, isDir ? -1 : qint64(below(10'000'000)),
                         QStringLiteral("2026-12-09T10:08:29.123456789Z"), isDir});
            if (isDir)
                folders.append(path);
        }
        // The engine lists a folder's entries together, as a walk of the tree does.
        std::sort(made.begin(), made.end(), [](const ListItem &a, const ListItem &b) { return a.Path < b.Path; });
        // Texts laid out in listing order, as decoding the engine's reply leaves them.
        QList<ListItem> listed;
        listed.reserve(made.size());
        for (const ListItem &item : made)
            listed.append({QString(item.Path.constData(), item.Path.size()),
                           QString(item.Name.constData(), item.Name.size()), item.Size,
                           QString(item.ModTime.constData(), item.ModTime.size()), item.IsDir});
        return listed;
    }();
    return items;
}

const DriveSearch::Index &index()
{
    static const DriveSearch::Index prepared(DriveSearch::entries(listing(), {}));
    return prepared;
}

void BM_Entries(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(DriveSearch::entries(listing(), {}));
    state.SetItemsProcessed(state.iterations() * entryCount);
}
BENCHMARK(BM_Entries)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_BuildIndex(benchmark::State &state)
{
    const QList<DriveSearchEntry> entries = DriveSearch::entries(listing(), {});
    for (auto _ : state)
        benchmark::DoNotOptimize(DriveSearch::Index(entries));
    state.SetItemsProcessed(state.iterations() * entryCount);
}
BENCHMARK(BM_BuildIndex)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_Query(benchmark::State &state, const char *query)
{
    const DriveSearch::Index &prepared = index();
    qsizetype total = 0;
    for (auto _ : state) {
        const DriveSearch::Results results = DriveSearch::results(prepared, QString::fromUtf8(query), 500);
        total = results.total;
        benchmark::DoNotOptimize(results);
    }
    state.counters["matches"] = double(total);
}
BENCHMARK_CAPTURE(BM_Query, two_words, "report 2024")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Query, two_words_accented, "cafe munchen")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Query, two_short_words, "e 1")->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
