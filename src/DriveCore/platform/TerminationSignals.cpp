#include "DriveCore/platform/TerminationSignals.h"

#include "DriveCore/support/Log.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <sys/eventfd.h>
#include <unistd.h>

namespace DriveCore {

namespace {

std::atomic<int> wakeFd{-1};
struct sigaction previousTerm;
struct sigaction previousInt;

void onSignal(int)
{
    const int saved = errno;
    const uint64_t one = 1;
    const int fd = wakeFd.load();
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof one);
    }
    errno = saved;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent) : QObject(parent)
{
    const Log log("app");
    if (wakeFd.load() >= 0) {
        log.fault("The termination signals are watched twice");
        return;
    }
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        log.error("No eventfd for the termination signals: %{public}s", std::strerror(errno));
        return;
    }
    wakeFd.store(fd);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGTERM, &action, &previousTerm) != 0 || ::sigaction(SIGINT, &action, &previousInt) != 0) {
        log.error("The termination signals couldn't be caught: %{public}s", std::strerror(errno));
        ::sigaction(SIGTERM, &previousTerm, nullptr);
        wakeFd.store(-1);
        ::close(fd);
        return;
    }
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::drain);
}

TerminationSignals::~TerminationSignals()
{
    if (!m_notifier)
        return;
    ::sigaction(SIGTERM, &previousTerm, nullptr);
    ::sigaction(SIGINT, &previousInt, nullptr);
    const int fd = wakeFd.exchange(-1);
    delete m_notifier;
    ::close(fd);
}

void TerminationSignals::drain()
{
    uint64_t count = 0;
    if (::read(int(m_notifier->socket()), &count, sizeof count) == sizeof count && count > 0)
        emit terminateRequested();
}

} // namespace DriveCore
