#include "support/OwnNamespaces.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <iostream>

namespace TestSupport {

namespace {

constexpr const char *insideVariable = "CORVANE_TEST_IN_OWN_NAMESPACES";

} // namespace

Namespaced runInOwnNamespaces(bool newPids, bool newNetwork)
{
    if (qEnvironmentVariableIsSet(insideVariable))
        return Namespaced::inside;
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString filter =
        QStringLiteral("--gtest_filter=%1.%2").arg(QLatin1String(test->test_suite_name()), QLatin1String(test->name()));
    QStringList arguments{QStringLiteral("--user"), QStringLiteral("--map-root-user")};
    if (newPids)
        arguments += {QStringLiteral("--pid"), QStringLiteral("--fork"), QStringLiteral("--mount"),
                      QStringLiteral("--mount-proc")};
    if (newNetwork)
        arguments += QStringLiteral("--net");
    arguments += {QCoreApplication::applicationFilePath(), filter};

    // A probe first, so that a system without user namespaces skips rather than fails.
    if (QProcess::execute(QStringLiteral("unshare"),
                          QStringList(arguments.mid(0, arguments.size() - 2)) << QStringLiteral("true"))
        != 0)
        return Namespaced::unavailable;

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(insideVariable), QStringLiteral("1"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("unshare"), arguments);
    const bool ended = child.waitForFinished(120'000);
    const QString output = QString::fromUtf8(child.readAll());
    EXPECT_TRUE(ended) << "the test in its own namespaces did not end within 120 s\n" << output.toStdString();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << output.toStdString();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    if (!ended)
        child.kill();
    if (ended && child.exitCode() == 0 && output.contains(QLatin1String("[  SKIPPED ]"))) {
        std::cout << output.toStdString() << std::flush;
        return Namespaced::skippedInside;
    }
    return Namespaced::ranOutside;
}

} // namespace TestSupport
