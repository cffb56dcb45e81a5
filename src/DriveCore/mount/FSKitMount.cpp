#include "DriveCore/mount/FSKitMount.h"

#include "DriveCore/engine/DriveEngine.h"
#include "DriveCore/mount/MountFolder.h"
#include "DriveCore/platform/ContinuousClock.h"
#include "DriveCore/platform/ProcessRunner.h"
#include "DriveCore/support/Log.h"
#include "DriveCore/support/Tasks.h"
#include "DriveCore/support/Threads.h"
#include "DriveCore/support/UserError.h"

#include <QFile>

#include <algorithm>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace DriveCore {

namespace {

using namespace std::chrono_literals;

const Log log("fskit-mount");

bool isLayerType(const QString &type)
{
    return type.toLower() == QLatin1String(DriveEngine::layerMountType);
}

// The first of two racing answers wins; the other is dropped.
class FirstAnswer {
public:
    void give(bool value)
    {
        {
            std::lock_guard lock(m_lock);
            if (m_answered)
                return;
            m_answered = true;
            m_value = value;
        }
        m_waker.fire();
    }

    QCoro::Task<bool> taken()
    {
        {
            std::lock_guard lock(m_lock);
            if (m_answered)
                co_return m_value;
        }
        co_await qCoro(&m_waker, &detail::Waker::fired);
        std::lock_guard lock(m_lock);
        co_return m_value;
    }

private:
    std::mutex m_lock;
    bool m_answered = false;
    bool m_value = false;
    detail::Waker m_waker;
};

QCoro::Task<> answerWith(std::shared_ptr<FirstAnswer> first, std::function<QCoro::Task<bool>()> body)
{
    bool value = false;
    try {
        value = co_await body();
    } catch (...) {
        // A body that fails has no answer: false.
        log.debug("A mount check failed: %{public}s",
                  errorText(std::current_exception()).value_or(QStringLiteral("cancelled")));
    }
    first->give(value);
}

QCoro::Task<> answerWhenLate(std::shared_ptr<FirstAnswer> first, std::chrono::milliseconds limit, Sleep sleep)
{
    co_await sleep(limit, {});
    first->give(false);
}

} // namespace

QString FSKitMount::unusableNameText(const QString &volumeName)
{
    return QStringLiteral("The drive name \u201c") + volumeName
        + QStringLiteral("\u201d can't be used with the new drive engine.");
}

QStringList FSKitMount::mountArguments(const QString &backing, const QString &mount, const QString &volumeName,
                                       bool readOnly)
{
    if (volumeName.isEmpty() || volumeName.contains(u',') || volumeName.contains(u'='))
        throw Problem(unusableNameText(volumeName));
    QStringList arguments;
    if (readOnly)
        arguments << QStringLiteral("-r");
    // With the kernel's attribute and entry caches off, every look-up passes through to the
    // engine's mount, so what changes there shows here at once, without touching files. The
    // page cache stays as FUSE keeps it by default: dropped at every open, so contents changed
    // below show at the next open (kernel_cache or auto_cache could show stale data).
    // big_writes: writes pass in pieces of up to 128 KiB instead of 4 KiB, the largest libfuse 2
    // allows; 4 KiB pieces, each a round trip through both mounts, made writes 30 times slower.
    // xattr-none: the engine's mount keeps no extended attributes and answers every request for
    // them with an I/O error, which fails "cp -a" and similar copies; the layer answers "not
    // supported" instead, and the kernel stops asking at each write (a round trip apiece).
    // bindfs stays single-threaded: parallel requests broke the engine's read-ahead and read
    // slower.
    arguments << QStringLiteral("-o")
              << QStringLiteral("subtype=%1,attr_timeout=0,entry_timeout=0,big_writes,xattr-none")
                     .arg(QLatin1String(DriveEngine::layerMountType))
              << backing << mount;
    return arguments;
}

QCoro::Task<> FSKitMount::mount(QString backing, QString at, QString volumeName, bool readOnly, CancelToken token)
{
    return mount(std::move(backing), std::move(at), std::move(volumeName), readOnly, Setup{}, std::move(token));
}

QCoro::Task<> FSKitMount::mount(QString backing, QString at, QString volumeName, bool readOnly, Setup setup,
                                CancelToken token)
{
    const QStringList arguments = mountArguments(backing, at, volumeName, readOnly);
    const Environment environment{{QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin:/usr/sbin:/sbin")}};
    const RcloneResult result = co_await ProcessRunner::run(setup.program, arguments, environment, std::nullopt, token);
    if (result.status != 0) {
        log.error("mount -t ovra failed (%{public}s): %{private}s",
                  result.signal != 0 ? ProcessRunner::signalText(result.signal)
                                     : QStringLiteral("status %1").arg(result.status),
                  result.stderrText().left(500));
        throw Problem(QString::fromUtf8(mountFailedText));
    }
    co_await waitForMount(std::move(at), setup.limit, isFSKitMounted, std::move(token));
}

QCoro::Task<> FSKitMount::waitForMount(QString path, std::chrono::milliseconds limit,
                                       std::function<bool(const QString &)> isMounted, CancelToken token)
{
    const auto deadline = ContinuousClock::now() + limit;
    for (;;) {
        checkCancelled(token);
        if (isMounted(path))
            co_return;
        if (ContinuousClock::now() >= deadline)
            throw Problem(QString::fromUtf8(mountFailedText));
        co_await sleep(200ms, token);
    }
}

bool FSKitMount::isFSKitMounted(const QString &path)
{
    const QStringList types = MountFolder::fileSystemTypes(path);
    return std::any_of(types.begin(), types.end(), isLayerType);
}

bool FSKitMount::isDriveMounted(const QString &path)
{
    return isDriveMounted(MountFolder::fileSystemTypes(path));
}

bool FSKitMount::isDriveMounted(const QStringList &types)
{
    return std::any_of(types.begin(), types.end(), [](const QString &type) {
        return type == QLatin1String(DriveEngine::engineMountType) || isLayerType(type);
    });
}

QCoro::Task<bool> FSKitMount::extensionEnabled()
{
    return extensionEnabled(Setup{});
}

QCoro::Task<bool> FSKitMount::extensionEnabled(Setup setup)
{
    co_return co_await runInPool([setup] {
        if (::access(QFile::encodeName(setup.program).constData(), X_OK) != 0)
            return false;
        const int fd = ::open(QFile::encodeName(setup.fuseDevice).constData(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return false;
        ::close(fd);
        return true;
    });
}

QCoro::Task<bool> FSKitMount::answer(std::chrono::milliseconds limit, std::function<QCoro::Task<bool>()> body,
                                     Sleep sleep)
{
    auto first = std::make_shared<FirstAnswer>();
    // Neither task is awaited here: both run to their own end, holding the shared answer.
    {
        auto detached = answerWith(first, std::move(body));
    }
    {
        auto detached = answerWhenLate(first, limit, std::move(sleep));
    }
    co_return co_await first->taken();
}

} // namespace DriveCore
