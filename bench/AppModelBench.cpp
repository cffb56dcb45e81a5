// One refresh pass of the app model with the production hooks against the fake engine holding
// 1,000 finished uploads and 1,000 kept items: the three replies of the uploads snapshot, the
// pins and the upload queue, the rows and status line, the kept files and the badge snapshot
// (encoded as for the plug-in). The pass runs every 2 s while a window is open.
#include "DriveCore/model/AppModel.h"
#include "DriveCore/platform/UserDefaults.h"
#include "support/fake-engine/FakeEngine.h"
#include "support/fake-engine/FakeEngineModel.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

using namespace DriveCore;

namespace {

QJsonObject scenario(const QString &bucket)
{
    QJsonArray transferred;
    QJsonArray pins;
    QJsonArray queue;
    for (int i = 0; i < 1000; ++i) {
        transferred.append(QJsonObject{{"name", QStringLiteral("Projects/%1/report.pdf").arg(i)},
                                       {"size", 100000},
                                       {"error", i % 100 == 0 ? "connection reset" : ""},
                                       {"completed_at", "2026-03-04T12:00:00Z"},
                                       {"group", "global_stats"},
                                       {"dstFs", "drivecrypt:Drive"}});
        pins.append(QJsonObject{{"path", QStringLiteral("Kept/%1").arg(i)},
                                {"isDir", i % 10 == 0},
                                {"files", 1},
                                {"filesDone", 1},
                                {"bytes", 5000},
                                {"bytesDone", i % 2 == 0 ? 5000 : 2500},
                                {"state", i % 2 == 0 ? "done" : "keeping"}});
        if (i < 100)
            queue.append(QJsonObject{{"name", QStringLiteral("Queued/%1.txt").arg(i)}});
    }
    return {{"bucket", bucket},
            {"diskCache", QJsonObject{{"uploadsInProgress", 2}, {"uploadsQueued", 100}, {"erroredFiles", 0}}},
            {"methods",
             QJsonObject{{"core/transferred", QJsonObject{{"reply", QJsonObject{{"transferred", transferred}}}}},
                         {"vfs/pins", QJsonObject{{"reply", QJsonObject{{"pins", pins}, {"state", "keeping"}}}}},
                         {"vfs/queue", QJsonObject{{"reply", QJsonObject{{"queue", queue}}}}}}}};
}

std::unique_ptr<TestSupport::FakeEngine> engine;
std::unique_ptr<AppModel> model;

void refreshPass(benchmark::State &state)
{
    for (auto _ : state)
        QCoro::waitFor(model->refresh());
    if (model->uploads().size() != 1000 || model->keptItems().size() != 1000)
        state.SkipWithError("the pass did not read the engine's figures");
}
BENCHMARK(refreshPass)->Unit(benchmark::kMillisecond)->MinTime(3.0);

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toUtf8());
    qputenv("XDG_STATE_HOME", (home.path() + QStringLiteral("/state")).toUtf8());
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);

    engine = std::make_unique<TestSupport::FakeEngine>();
    engine->setScenario(scenario(engine->bucket()));
    if (!engine->start()) {
        fprintf(stderr, "the fake engine did not start: %s\n", qPrintable(engine->server().output()));
        return 1;
    }
    auto defaults = UserDefaults::standard();
    DriveSettings{.driveName = "Bench Drive", .deviceID = QUuid::createUuid(), .deviceName = "Bench"}.save(*defaults);
    DriveEngine(DriveEngine::nfs).save(*defaults);
    AppModelHooks hooks = AppModelHooks::live(QStringLiteral("/nonexistent/rclone"));
    hooks.makeChangeSync = [](RCClient, DriveSettings) { return std::make_shared<TestSupport::NoChangeSync>(); };
    hooks.cacheFolders = [](const DriveSettings &) { return std::set<std::string>{}; };
    // The loops wait a day between passes: only the measured passes run.
    hooks.sleep = [](std::chrono::milliseconds, CancelToken token) {
        return DriveCore::sleep(std::chrono::hours(24), token);
    };
    model = std::make_unique<AppModel>(std::make_shared<TestSupport::RunningSupervisor>(engine->client()),
                                       std::make_shared<TestSupport::FixedKeys>(), defaults,
                                       std::make_shared<TestSupport::QuietNetwork>(), hooks, true, nullptr);
    QCoro::waitFor(model->launch());

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    QCoro::waitFor(model->shutdown());
    model.reset();
    engine.reset();
    return 0;
}
