// The search window over a drive of a million names: the time from the last keystroke to the
// rows on screen, the 0.12 s wait after typing left out (the window's wait is made instant).
// Matching runs on the thread pool, limited here to one thread; run the program under
// `taskset -c 0` to hold the whole of it to one core.
#include "CorvaneDrive/Windows/SearchWindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QTableView>
#include <QThreadPool>

#include <benchmark/benchmark.h>

#include <random>

using namespace CorvaneDrive;
using namespace DriveCore;

namespace {

constexpr int entryCount = 1'000'000;

// Paths up to four folders deep from a vocabulary of plain and accented words, with numbers
// and years; about one in six is a folder.
QList<DriveSearchEntry> entries()
{
    std::mt19937 random(7);
    const auto below = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
    const QStringList words{"Report",    "Invoice", "Photos",   "Holiday", "Budget", "Notes", "Project",
                            "Draft",     "Scan",    "Contract", "Résumé",  "Café",   "Über",  "Naïve",
                            "São Paulo", "Zürich",  "東京",     "backup",  "final",  "copy",  "meeting"};
    const QStringList extensions{".pdf", ".jpg", ".docx", ".xlsx", ".txt", ".png", ".mov", ""};
    QList<DriveSearchEntry> made;
    made.reserve(entryCount);
    QStringList folders{QString()};
    while (made.size() < entryCount) {
        QString name = words[qsizetype(below(size_t(words.size())))];
        if (below(2) == 0)
            name += u' ' + words[qsizetype(below(size_t(words.size())))];
        if (below(3) == 0)
            name += u' ' + QString::number(2015 + below(12));
        const QString &parent = folders[qsizetype(below(size_t(folders.size())))];
        const bool isDir = below(6) == 0 && parent.count(u'/') < 3;
        if (!isDir)
            name += QString::number(made.size()) + extensions[qsizetype(below(size_t(extensions.size())))];
        const QString path = parent.isEmpty() ? name : parent + u'/' + name;
        made.append({path, name, isDir, isDir ? std::nullopt : std::optional<qint64>(below(10'000'000)),
                     QDateTime(QDate(2026, 1, 1 + int(below(28))), QTime(10, 0)), false});
        if (isDir)
            folders.append(path);
    }
    return made;
}

void lastKeyToRows(benchmark::State &state)
{
    const DriveSearch::Index index(entries());
    SearchContext context;
    context.searchIndex = [&] { return index; };
    const QDateTime listed = QDateTime::currentDateTime();
    context.searchIndexedAt = [&] { return std::optional(listed); };
    const QUuid device = QUuid::createUuid();
    context.deviceID = [&] { return std::optional(device); };
    context.online = [] { return true; };
    context.mountPath = [] { return std::optional(QStringLiteral("/home/bench/Mounts/Drive")); };
    context.refreshSearchIndex = [](CancelToken) -> QCoro::Task<> { co_return; };
    context.reveal = [](const QList<QUrl> &) {};
    context.open = [](const QUrl &) {};
    context.sleep = [](std::chrono::milliseconds, CancelToken) -> QCoro::Task<> { co_return; };
    auto *window = new SearchWindow(context);
    window->show();
    bool applied = false;
    QObject::connect(&window->presenter(), &SearchPresenter::resultsApplied, [&] { applied = true; });

    // Queries of two words, as typed: the last key completes the second word.
    const QStringList queries{QStringLiteral("report 2019"), QStringLiteral("photos caf"),
                              QStringLiteral("budget fina"), QStringLiteral("meeting 202")};
    qsizetype turn = 0;
    qsizetype shown = 0;
    for (auto _ : state) {
        const QString query = queries[turn++ % queries.size()];
        window->searchField()->setText(query.chopped(1));
        applied = false;
        const auto start = std::chrono::steady_clock::now();
        // The last keystroke.
        window->searchField()->setText(query);
        emit window->searchField()->textEdited(query);
        while (!applied)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        window->table()->viewport()->repaint();
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        shown = window->table()->model()->rowCount();
    }
    state.counters["rows"] = double(shown);
    delete window;
}
BENCHMARK(lastKeyToRows)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(5.0);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QThreadPool::globalInstance()->setMaxThreadCount(1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
