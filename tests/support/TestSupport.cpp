#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace TestSupport {

namespace detail {

bool runFor(QEventLoop &loop, std::chrono::milliseconds limit)
{
    bool passed = false;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        passed = true;
        loop.quit();
    });
    timer.start(limit);
    loop.exec();
    return !passed;
}

void hung(std::shared_ptr<void> state, std::chrono::milliseconds limit)
{
    static std::vector<std::shared_ptr<void>> kept;
    kept.push_back(std::move(state));
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name =
        test ? std::string(test->test_suite_name()) + '.' + test->name() : std::string("(no test)");
    const std::string message = name + ": an await did not finish within " + std::to_string(limit.count()) + " ms";
    ADD_FAILURE() << message;
    throw std::runtime_error(message);
}

} // namespace detail

bool spinUntil(const std::function<bool()> &done, std::chrono::milliseconds limit)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limit.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void settle()
{
    for (int turn = 0; turn < 10; ++turn) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
    spinUntil([] { return false; }, std::chrono::milliseconds(20));
}

QString writeScript(const QString &path, const QString &body)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write("#!/bin/sh\n");
    file.write(body.toUtf8());
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

} // namespace TestSupport
