// The refresh and health loops poll the engine every few seconds through one shared session:
// sequential calls should reuse one loopback connection instead of opening one each.
#include "DriveCore/engine/RCClient.h"
#include "support/fake-engine/FakeEngine.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

using namespace DriveCore;

namespace {

std::unique_ptr<TestSupport::FakeEngine> engine;

int connectionsAccepted(const RCClient &rc)
{
    return QCoro::waitFor(rc.call(QStringLiteral("fake/connections"), {})).value(u"connections").toInt();
}

void sequentialPings(benchmark::State &state)
{
    const RCClient rc = engine->client();
    const int before = connectionsAccepted(rc);
    qint64 calls = 0;
    for (auto _ : state) {
        if (!QCoro::waitFor(rc.ping())) {
            state.SkipWithError("the fake engine did not answer");
            return;
        }
        ++calls;
    }
    const int opened = connectionsAccepted(rc) - before;
    state.SetItemsProcessed(calls);
    state.counters["requests_per_second"] = benchmark::Counter(double(calls), benchmark::Counter::kIsRate);
    // 0 when every call reused the connection; 1 when each opened its own.
    state.counters["new_connections_per_call"] = calls ? double(opened) / double(calls) : 0;
}
BENCHMARK(sequentialPings)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    engine = std::make_unique<TestSupport::FakeEngine>();
    if (!engine->start()) {
        std::fprintf(stderr, "The fake engine did not start: %s\n", qPrintable(engine->server().output()));
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    engine.reset();
    return 0;
}
