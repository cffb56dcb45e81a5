#include "DriveCore/platform/ProcessRunner.h"

#include "DriveCore/support/Tasks.h"

#include <QProcess>
#include <QStringDecoder>

#include <csignal>
#include <cstring>
#include <memory>
#include <mutex>

namespace DriveCore {

QString RcloneResult::stderrText() const
{
    return QString::fromUtf8(stderrBytes);
}

ProcessRunner::LaunchError::LaunchError(const QString &program, const QString &reason)
    : std::runtime_error(QStringLiteral("Could not start %1: %2").arg(program, reason).toStdString())
{
}

void ProcessRunner::ignoreSigpipe()
{
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

void ProcessRunner::prepare(QProcess &process, const QString &program, const QStringList &arguments,
                            const Environment &environment)
{
    ignoreSigpipe();
    QProcessEnvironment processEnvironment;
    for (auto it = environment.begin(); it != environment.end(); ++it)
        processEnvironment.insert(it.key(), it.value());
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessEnvironment(processEnvironment);
    process.setChildProcessModifier(restoreChildSignals);
}

void ProcessRunner::restoreChildSignals()
{
    // Only async-signal-safe calls: this runs between fork and exec.
    struct sigaction action{};
    action.sa_handler = SIG_DFL;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGQUIT, &action, nullptr);
}

namespace {

// Starts the process and waits, without blocking, until it runs or failed to start.
QCoro::Task<> launch(QProcess &process)
{
    detail::Waker waker;
    bool failed = false;
    QObject::connect(&process, &QProcess::started, &waker, &detail::Waker::fire);
    QObject::connect(&process, &QProcess::errorOccurred, &waker, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            failed = true;
            waker.fire();
        }
    });
    process.start();
    if (process.state() == QProcess::Starting)
        co_await qCoro(&waker, &detail::Waker::fired);
    if (failed || process.state() == QProcess::NotRunning)
        throw ProcessRunner::LaunchError(process.program(), process.errorString());
}

QCoro::Task<> finished(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        co_return;
    co_await qCoro(&process, &QProcess::finished);
}

// Interrupts the child on cancellation; nothing once it has ended.
CancelHook interruptOnCancel(const CancelToken &token, QProcess &process)
{
    return CancelHook(token, &process, [&process] {
        const qint64 pid = process.processId();
        if (pid > 0 && process.state() == QProcess::Running)
            ::kill(pid_t(pid), SIGINT);
    });
}

// Splits standard error into lines on "\n" and keeps the last five.
class LineSplitter {
public:
    explicit LineSplitter(std::function<void(const QString &)> onLine) : m_onLine(std::move(onLine)) {}

    void feed(const QByteArray &bytes)
    {
        m_buffer += bytes;
        qsizetype newline;
        while ((newline = m_buffer.indexOf('\n')) >= 0) {
            emitLine(m_buffer.left(newline));
            m_buffer.remove(0, newline + 1);
        }
    }

    void finish()
    {
        if (!m_buffer.isEmpty())
            emitLine(std::exchange(m_buffer, {}));
    }

    QString tail() const { return m_tail.join(u'\n'); }

private:
    void emitLine(const QByteArray &bytes)
    {
        const QString line = QString::fromUtf8(bytes);
        m_tail.append(line);
        if (m_tail.size() > 5)
            m_tail.removeFirst();
        if (m_onLine)
            m_onLine(line);
    }

    std::function<void(const QString &)> m_onLine;
    QByteArray m_buffer;
    QStringList m_tail;
};

} // namespace

ProcessRunner::Ending ProcessRunner::ending(const QProcess &process)
{
    // Qt gives the signal's number as the exit code of a child a signal ended.
    if (process.exitStatus() == QProcess::CrashExit)
        return {-1, int32_t(process.exitCode())};
    return {int32_t(process.exitCode()), 0};
}

QString ProcessRunner::signalText(int32_t signal)
{
    const char *abbreviation = ::sigabbrev_np(signal);
    return abbreviation ? QStringLiteral("signal %1 (SIG%2)").arg(signal).arg(QLatin1String(abbreviation))
                        : QStringLiteral("signal %1").arg(signal);
}

QCoro::Task<RcloneResult> ProcessRunner::run(QString program, QStringList arguments, Environment environment,
                                             std::optional<QByteArray> input, CancelToken token)
{
    QProcess process;
    ProcessRunner::prepare(process, program, arguments, environment);
    if (!input)
        process.setStandardInputFile(QProcess::nullDevice());
    co_await launch(process);
    const CancelHook hook = interruptOnCancel(token, process);
    if (input) {
        // Qt writes as the pipe drains; a child that never reads makes the write fail quietly.
        process.write(*input);
        process.closeWriteChannel();
    }
    co_await finished(process);
    const Ending end = ending(process);
    co_return RcloneResult{end.status, process.readAllStandardOutput(), process.readAllStandardError(), end.signal};
}

QCoro::Task<ProcessRunner::StreamResult> ProcessRunner::stream(QString program, QStringList arguments,
                                                               Environment environment,
                                                               std::function<void(const QString &)> onStderrLine,
                                                               CancelToken token)
{
    QProcess process;
    ProcessRunner::prepare(process, program, arguments, environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    LineSplitter lines(std::move(onStderrLine));
    QObject::connect(&process, &QProcess::readyReadStandardError, &process,
                     [&] { lines.feed(process.readAllStandardError()); });
    co_await launch(process);
    const CancelHook hook = interruptOnCancel(token, process);
    co_await finished(process);
    lines.feed(process.readAllStandardError());
    lines.finish();
    const Ending end = ending(process);
    co_return StreamResult{end.status, lines.tail(), end.signal};
}

} // namespace DriveCore
