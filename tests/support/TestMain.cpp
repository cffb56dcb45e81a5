#include <QCoreApplication>
#ifdef CORVANE_TEST_WIDGETS
#include <QApplication>
#include <QIcon>
#include <QStandardPaths>
#endif
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <csignal>

namespace {

// The name the global pool's threads carry, as the kernel lists them (15 bytes at most).
const QByteArray poolName = "test-pool";

bool poolThreadsAlive()
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == poolName)
            return true;
    }
    return false;
}

// A pool thread counts as done before it has fully exited, and OpenSSL frees what it keeps per
// thread (its random generators) only in that exit, which its own clean-up at process exit cuts
// short. So the leak check waits for the threads themselves to be gone.
void endPoolThreads()
{
    QThreadPool::globalInstance()->waitForDone();
    const QDeadlineTimer deadline(10'000);
    while (poolThreadsAlive() && !deadline.hasExpired())
        QThread::msleep(5);
}

} // namespace

// Every test binary runs its tests under one application object, so coroutines, timers and
// network replies have an event loop; window tests (built with CORVANE_TEST_WIDGETS) get a
// widget application.
int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
#ifdef CORVANE_TEST_WIDGETS
    QApplication app(argc, argv);
    // The offscreen platform neither looks for icon themes in the data folders nor names one, as
    // a desktop session does.
    QIcon::setThemeSearchPaths(QIcon::themeSearchPaths() +
                               QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                                         QStandardPaths::LocateDirectory));
    if (QIcon::themeName().isEmpty())
        QIcon::setThemeName(QStringLiteral("Adwaita"));
#else
    QCoreApplication app(argc, argv);
#endif
    QThreadPool::globalInstance()->setObjectName(QString::fromLatin1(poolName));
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    endPoolThreads();
    return status;
}
