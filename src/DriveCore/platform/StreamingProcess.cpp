#include "DriveCore/platform/StreamingProcess.h"

#include "DriveCore/platform/UniqueFd.h"
#include "DriveCore/support/Tasks.h"

#include <QProcess>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <exception>
#include <memory>
#include <stop_token>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace DriveCore::StreamingProcess {

namespace {

constexpr int pipeCapacity = 1 << 20; // the most an ordinary user may ask for by default

std::system_error systemError(const QString &what)
{
    return std::system_error(errno, std::generic_category(), what.toStdString());
}

// The write end of the child's input as the producer's thread sees it. Cancelling wakes a
// write that waits for room in the pipe, whatever the child does.
class InputPipe {
public:
    InputPipe(int fd, int wake, QString program) : m_fd(fd), m_wake(wake), m_program(std::move(program)) {}

    void write(const QByteArray &piece)
    {
        const char *data = piece.constData();
        qsizetype left = piece.size();
        for (;;) {
            if (m_cancelled.load())
                throw CancelledError();
            if (left == 0)
                return;
            const ssize_t written = ::write(m_fd.get(), data, size_t(left));
            if (written >= 0) {
                data += written;
                left -= written;
            } else if (errno == EAGAIN) {
                waitForRoom();
            } else if (errno != EINTR) {
                if (errno == EPIPE)
                    m_broken.store(true);
                throw systemError(QStringLiteral("Couldn't write to %1").arg(m_program));
            }
        }
    }

    // Any thread.
    void cancel()
    {
        m_cancelled.store(true);
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(m_wake.get(), &one, sizeof one);
    }

    // Only once the producer's thread has ended: the child sees the end of its input.
    void close(bool reportFailure)
    {
        if (m_fd.get() < 0)
            return;
        if (::close(m_fd.release()) != 0 && reportFailure)
            throw systemError(QStringLiteral("Couldn't close the input of %1").arg(m_program));
    }

    bool broken() const { return m_broken.load(); }

private:
    void waitForRoom()
    {
        pollfd fds[2] = {{m_fd.get(), POLLOUT, 0}, {m_wake.get(), POLLIN, 0}};
        while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
        }
    }

    UniqueFd m_fd;
    UniqueFd m_wake;
    QString m_program;
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_broken{false};
};

// Starts the process and waits, without blocking, until it runs or could not be started.
QCoro::Task<> launch(QProcess &process)
{
    // stateChanged is a private signal, which a coroutine cannot await directly.
    detail::Waker changed;
    QObject::connect(&process, &QProcess::stateChanged, &changed, &detail::Waker::fire);
    process.start();
    while (process.state() == QProcess::Starting)
        co_await qCoro(&changed, &detail::Waker::fired);
    if (process.error() == QProcess::FailedToStart)
        throw ProcessRunner::LaunchError(process.program(), process.errorString());
}

void interrupt(QProcess &process)
{
    const qint64 pid = process.processId();
    if (pid > 0 && process.state() == QProcess::Running)
        ::kill(pid_t(pid), SIGINT);
}

} // namespace

QCoro::Task<Result> run(QString program, QStringList arguments, Environment environment, Produce produce,
                        qsizetype stderrLimit, CancelToken token)
{
    ProcessRunner::ignoreSigpipe();
    checkCancelled(token);

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw systemError(QStringLiteral("Couldn't make a pipe for %1").arg(program));
    UniqueFd childEnd(ends[0]);
    UniqueFd ourEnd(ends[1]);
    // Non-blocking, so a waiting write can also watch for cancellation.
    if (::fcntl(ourEnd.get(), F_SETFL, O_NONBLOCK) != 0)
        throw systemError(QStringLiteral("Couldn't prepare the input of %1").arg(program));
    // Room for a whole piece, so the child drains one while the producer makes the next. A
    // smaller pipe only costs speed.
    ::fcntl(ourEnd.get(), F_SETPIPE_SZ, pipeCapacity);
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (wake.get() < 0)
        throw systemError(QStringLiteral("Couldn't prepare the input of %1").arg(program));
    const auto input = std::make_shared<InputPipe>(ourEnd.release(), wake.release(), program);

    QProcess process;
    ProcessRunner::prepare(process, program, arguments, environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardInputFile(QProcess::nullDevice());
    // Qt has no way to hand a pipe of our own to the child; in the child, after Qt has set up
    // its channels, ours replaces the null device. Our copies are close-on-exec.
    const int childInput = childEnd.get();
    process.setChildProcessModifier([childInput] {
        ProcessRunner::restoreChildSignals();
        ::dup2(childInput, STDIN_FILENO);
    });

    QByteArray stderrTail;
    const auto keepTail = [&] {
        stderrTail += process.readAllStandardError();
        if (stderrTail.size() > stderrLimit)
            stderrTail.remove(0, stderrTail.size() - stderrLimit);
    };
    QObject::connect(&process, &QProcess::readyReadStandardError, &process, keepTail);

    co_await launch(process);
    childEnd.reset(); // the child's end is the child's alone, so its exit breaks the pipe

    std::exception_ptr failure;
    {
        const CancelHook interruptOnCancel(token, &process, [&process] { interrupt(process); });
        const std::stop_callback wakeWriter(token, [input] { input->cancel(); });

        detail::Waker produced;
        std::exception_ptr producerFailure;
        std::thread producer([&, input] {
            try {
                produce([&input](const QByteArray &piece) { input->write(piece); });
            } catch (...) {
                producerFailure = std::current_exception();
            }
            QMetaObject::invokeMethod(&produced, &detail::Waker::fire, Qt::QueuedConnection);
        });
        co_await qCoro(&produced, &detail::Waker::fired);
        producer.join();

        failure = producerFailure;
        if (!failure && token.stop_requested())
            failure = std::make_exception_ptr(CancelledError());
        if (!failure) {
            try {
                input->close(true);
            } catch (...) {
                failure = std::current_exception();
            }
        }
        if (failure) {
            interrupt(process);
            input->close(false);
        }
        if (process.state() != QProcess::NotRunning)
            co_await qCoro(&process, &QProcess::finished);
    }
    keepTail();
    const ProcessRunner::Ending end = ProcessRunner::ending(process);
    const Result result{end.status, stderrTail, end.signal};

    checkCancelled(token);
    if (failure && !(input->broken() && result.status != 0))
        std::rethrow_exception(failure);
    co_return result;
}

} // namespace DriveCore::StreamingProcess
