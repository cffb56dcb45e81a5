#include <QCoreApplication>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <csignal>

// Every test binary runs its tests under one application object, so coroutines, timers and
// network replies have an event loop.
int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    // End the pool's threads before exit, so what they keep per thread (OpenSSL's state among
    // it) is freed before the leak check looks.
    QThreadPool::globalInstance()->waitForDone();
    return status;
}
