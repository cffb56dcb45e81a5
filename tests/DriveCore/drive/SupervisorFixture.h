#pragma once

#include "DriveCore/drive/RcloneSupervisor.h"
#include "DriveCore/platform/RealLauncher.h"
#include "support/LogCapture.h"
#include "support/ScopedEnvironment.h"

#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <vector>

namespace DriveCore {

inline void PrintTo(const SupervisorState &state, std::ostream *out)
{
    static const char *const names[] = {"stopped", "starting", "running", "restarting", "failed"};
    *out << names[state.kind];
    if (state.kind == SupervisorState::failed)
        *out << "(\"" << state.text.toStdString() << "\")";
}

} // namespace DriveCore

namespace SupervisorTest {

// The real launcher, noting in order every launch, signal and unmount ("launch 1",
// "interrupt 1", "terminate 1", "kill 1" for the first launch; "unmount <path>", and
// "unmount! <path>" when forced). With `dropKill`, processes launched meanwhile survive
// SIGKILL, as one caught in the kernel would.
class RecordingLauncher : public DriveCore::ProcessLaunching {
public:
    struct Launch {
        std::shared_ptr<DriveCore::LaunchedProcess> process; // the real one, signals not noted
        QStringList arguments;
        DriveCore::Environment environment;
    };

    std::shared_ptr<DriveCore::LaunchedProcess> launch(const QString &executable, const QStringList &arguments,
                                                       const DriveCore::Environment &environment,
                                                       ExitCallback onExit) override;
    QCoro::Task<> unmount(QString path, bool force) override;

    std::vector<Launch> launches;
    QStringList events;
    bool dropKill = false;

private:
    DriveCore::RealLauncher m_real;
};

// A drive in a home folder of the test's own, run by the supervisor on the fake engine (a real
// child process that mounts its bucket folder through FUSE like the engine), with the hooks'
// waits made 10 times shorter and noted. Whatever a test leaves running or mounted is stopped
// and unmounted afterwards.
class SupervisorTest : public ::testing::Test {
protected:
    using Milliseconds = std::chrono::milliseconds;

    static constexpr int timeScale = 10;

    SupervisorTest();
    void TearDown() override;

    // Made on first use, with the hooks and observers as they are then.
    DriveCore::RcloneSupervisor &supervisor();
    // Starts the drive and expects no error.
    void start(DriveCore::DriveEngine engine = DriveCore::DriveEngine::nfs);
    void stop(bool waitForUploads = false);

    // The engine's scenario (see the fake engine's main.cpp); the bucket is added.
    void setScenario(QJsonObject scenario);
    bool waitFor(const std::function<bool()> &done, Milliseconds limit = std::chrono::seconds(10));
    bool waitForState(DriveCore::SupervisorState::Kind kind, Milliseconds limit = std::chrono::seconds(10));
    // Waits until the running engine answers a ping.
    bool engineAnswers();
    // The pauses asked of the sleep hook that last at least `minimum`, in order.
    std::vector<Milliseconds> pauses(Milliseconds minimum) const;
    // The messages of the supervisor's log category so far.
    QStringList supervisorLog() const { return logs.messages(QStringLiteral("supervisor")); }
    // The pid of the n-th launch (from 1).
    pid_t pid(size_t launch) const { return launcher->launches.at(launch - 1).process->pid(); }
    // The types mounted at exactly `path`.
    static QStringList mountedAt(const QString &path);
    // The file's bytes; none when it cannot be read.
    static QByteArray contents(const QString &path);

    TestSupport::LogCapture logs;
    QTemporaryDir home;
    TestSupport::ScopedEnvironment env;
    DriveCore::DriveSettings settings;
    DriveCore::StorageSecrets secrets;
    QString passphrase = QStringLiteral("correct horse battery staple");
    QString scenarioPath;
    QString program;
    QString mountFolder;
    QString backing;
    QString cacheDir;
    // The folder the engine shows, with one file in it.
    QString filesFolder;

    std::shared_ptr<RecordingLauncher> launcher = std::make_shared<RecordingLauncher>();
    DriveCore::SupervisorHooks hooks;
    DriveCore::RcloneSupervisor::Observers observers; // none unless a test adds them
    Milliseconds tick = std::chrono::hours(1); // between health checks
    DriveCore::ContinuousClock::duration clockStep = std::chrono::seconds(1); // per call of now
    std::vector<Milliseconds> sleeps;

private:
    DriveCore::ContinuousClock::duration m_time{};
    std::unique_ptr<DriveCore::RcloneSupervisor> m_supervisor;
};

} // namespace SupervisorTest
