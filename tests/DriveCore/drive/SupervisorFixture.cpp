#include "SupervisorFixture.h"

#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/mount/LeftoverDrive.h"
#include "DriveCore/platform/MountTable.h"
#include "DriveCore/platform/ProcessListing.h"
#include "DriveCore/support/Tasks.h"
#include "support/fake-engine/FakeEngine.h"
#include "support/FuseMount.h"
#include "support/StopProcess.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <csignal>

using namespace DriveCore;
using namespace std::chrono_literals;

namespace SupervisorTest {

namespace {

// A launched process whose signals are noted; SIGKILL may be dropped.
class NotedProcess : public LaunchedProcess {
public:
    NotedProcess(std::shared_ptr<LaunchedProcess> real, RecordingLauncher &launcher, size_t number)
        : m_real(std::move(real)), m_launcher(launcher), m_number(number), m_dropKill(launcher.dropKill)
    {
    }

    int32_t pid() const override { return m_real->pid(); }
    void interrupt() override
    {
        note("interrupt");
        m_real->interrupt();
    }
    void terminate() override
    {
        note("terminate");
        m_real->terminate();
    }
    void kill() override
    {
        note("kill");
        if (!m_dropKill)
            m_real->kill();
    }

private:
    void note(const char *signal)
    {
        m_launcher.events.append(QStringLiteral("%1 %2").arg(QLatin1String(signal)).arg(m_number));
    }

    std::shared_ptr<LaunchedProcess> m_real;
    RecordingLauncher &m_launcher;
    size_t m_number;
    bool m_dropKill;
};

} // namespace

std::shared_ptr<LaunchedProcess> RecordingLauncher::launch(const QString &executable, const QStringList &arguments,
                                                           const Environment &environment, ExitCallback onExit)
{
    auto real = m_real.launch(executable, arguments, environment, std::move(onExit));
    launches.push_back({real, arguments, environment});
    events.append(QStringLiteral("launch %1").arg(launches.size()));
    return std::make_shared<NotedProcess>(real, *this, launches.size());
}

QCoro::Task<> RecordingLauncher::unmount(QString path, bool force)
{
    events.append((force ? QStringLiteral("unmount! ") : QStringLiteral("unmount ")) + path);
    co_await m_real.unmount(path, force);
}

SupervisorTest::SupervisorTest()
{
    env.set("HOME", home.path().toUtf8());
    env.set("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    env.set("XDG_STATE_HOME", home.filePath(QStringLiteral("state")).toUtf8());
    settings = DriveSettings{.driveName = QStringLiteral("My Drive"),
                             .cacheGB = 30,
                             .deviceID = QUuid::createUuid(),
                             .deviceName = QStringLiteral("Laptop")};
    secrets = StorageSecrets{.endpoint = QStringLiteral("http://127.0.0.1:9"),
                             .bucket = QStringLiteral("bucket"),
                             .accessKeyID = QStringLiteral("AKIAFAKEKEYID"),
                             .secretAccessKey = QStringLiteral("fakeSecretAccessKey/123")};
    mountFolder = DriveLayout::mountPath(settings.driveName);
    backing = DriveLayout::backingPath(settings.deviceID);
    cacheDir = DriveLayout::cacheDir(settings.deviceID);
    filesFolder = home.filePath(QStringLiteral("bucket/Drive"));
    QDir().mkpath(filesFolder);
    QFile hello(filesFolder + QStringLiteral("/hello.txt"));
    hello.open(QIODevice::WriteOnly);
    hello.write("hello\n");
    hello.close();

    scenarioPath = home.filePath(QStringLiteral("scenario.json"));
    setScenario({{QStringLiteral("mount"), true}});
    program = TestSupport::FakeEngine::writeWrapper(home.filePath(QStringLiteral("engine")), scenarioPath);

    hooks = SupervisorHooks::live();
    hooks.sleep = [this](Milliseconds duration, CancelToken token) {
        sleeps.push_back(duration);
        return DriveCore::sleep(duration / timeScale, std::move(token));
    };
    hooks.healthTick = [this](CancelToken token) { return DriveCore::sleep(tick, std::move(token)); };
    // The engine answers a ping at once when it answers at all.
    hooks.ping = [](RCClient rc, CancelToken token) -> QCoro::Task<bool> {
        try {
            co_await rc.call<RCClient::Empty>(QStringLiteral("core/version"), {}, 300ms, token);
            co_return true;
        } catch (const std::exception &) {
            co_return false;
        }
    };
    hooks.now = [this] {
        m_time += clockStep;
        return ContinuousClock::time_point(m_time);
    };
}

void SupervisorTest::TearDown()
{
    if (m_supervisor) {
        launcher->dropKill = false;
        TestSupport::await(m_supervisor->stop(false));
        m_supervisor.reset();
    }
    for (const RecordingLauncher::Launch &launch : launcher->launches)
        launch.process->kill();
    TestSupport::stopLeftoverEngines(cacheDir);
    for (const RecordingLauncher::Launch &launch : launcher->launches)
        TestSupport::spinUntil([&] { return ProcessListing::hasEnded(launch.process->pid()); }, 5s);
    // Lazily unmounts whatever is left at both folders.
    TestSupport::FuseMount(mountFolder).unmount();
    TestSupport::FuseMount(backing).unmount();
    // Lets the cancelled tasks of the supervisors end.
    TestSupport::spinUntil([] { return false; }, 50ms);
}

RcloneSupervisor &SupervisorTest::supervisor()
{
    if (!m_supervisor)
        m_supervisor = std::make_unique<RcloneSupervisor>(RcloneCommand(program), launcher, hooks, observers);
    return *m_supervisor;
}

void SupervisorTest::start(DriveEngine engine)
{
    EXPECT_NO_THROW(TestSupport::await(supervisor().start(settings, secrets, passphrase, false, engine)));
}

void SupervisorTest::stop(bool waitForUploads)
{
    TestSupport::await(supervisor().stop(waitForUploads));
}

void SupervisorTest::setScenario(QJsonObject scenario)
{
    scenario.insert(QStringLiteral("bucket"), home.filePath(QStringLiteral("bucket")));
    TestSupport::FakeEngine::writeScenario(scenarioPath, scenario);
}

bool SupervisorTest::waitFor(const std::function<bool()> &done, Milliseconds limit)
{
    return TestSupport::spinUntil(done, limit);
}

bool SupervisorTest::waitForState(SupervisorState::Kind kind, Milliseconds limit)
{
    return waitFor([&] { return supervisor().state().kind == kind; }, limit);
}

bool SupervisorTest::engineAnswers()
{
    return waitFor([&] {
        const auto rc = supervisor().rc();
        return rc && TestSupport::await(hooks.ping(*rc, {}));
    });
}

std::vector<SupervisorTest::Milliseconds> SupervisorTest::pauses(Milliseconds minimum) const
{
    std::vector<Milliseconds> found;
    for (const Milliseconds pause : sleeps) {
        if (pause >= minimum)
            found.push_back(pause);
    }
    return found;
}

QStringList SupervisorTest::mountedAt(const QString &path)
{
    return MountTable::typesMountedAt(path);
}

QByteArray SupervisorTest::contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace SupervisorTest
