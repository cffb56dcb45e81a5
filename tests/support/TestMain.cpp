#include <QCoreApplication>

#include <gtest/gtest.h>

#include <csignal>

// Every test binary runs its tests under one application object, so coroutines, timers and
// network replies have an event loop.
int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
