// The search shortcut on a real X server (Xvfb on a display of its own): xdotool presses
// Control+Alt+O and the search window opens through the opener the application gives it.
#include "CorvaneDrive/Windows/SearchShortcut.h"
#include "CorvaneDrive/Windows/SearchWindow.h"

#include "support/ScopedEnvironment.h"
#include "support/Screenshots.h"
#include "support/StopProcess.h"
#include "support/TestSupport.h"

#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace CorvaneDrive;
using namespace std::chrono_literals;
using TestSupport::spinUntil;

namespace {

class SearchShortcutTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // -displayfd: the server picks a free display and says which once it accepts clients;
        // -noreset: it does not restart (refusing connections meanwhile) when its last client goes.
        xvfb.setProgram(QStandardPaths::findExecutable(QStringLiteral("Xvfb")));
        xvfb.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                           QStringLiteral("0"), QStringLiteral("800x600x24"), QStringLiteral("-nolisten"),
                           QStringLiteral("tcp"), QStringLiteral("-noreset")});
        xvfb.start();
        ASSERT_TRUE(xvfb.waitForStarted(10000));
        ASSERT_TRUE(spinUntil([&] { return xvfb.canReadLine() || xvfb.state() == QProcess::NotRunning; }, 10s));
        const QByteArray number = xvfb.readLine().trimmed();
        ASSERT_FALSE(number.isEmpty()) << xvfb.readAllStandardError().toStdString();
        display = ":" + number;
        env.set("DISPLAY", display);
        env.set("XDG_SESSION_TYPE", "x11");
    }

    void TearDown() override { TestSupport::stopProcess(xvfb); }

    void press(const char *keys)
    {
        QProcess xdotool;
        xdotool.start(QStandardPaths::findExecutable(QStringLiteral("xdotool")),
                      {QStringLiteral("key"), QString::fromLatin1(keys)});
        ASSERT_TRUE(xdotool.waitForFinished(10000));
        ASSERT_EQ(xdotool.exitCode(), 0) << xdotool.readAllStandardError().toStdString();
    }

    static SearchContext context()
    {
        SearchContext c;
        c.searchIndex = [] { return DriveCore::DriveSearch::Index(); };
        c.searchIndexedAt = [] { return std::optional(QDateTime::currentDateTime()); };
        c.deviceID = [] { return std::optional(QUuid::createUuid()); };
        c.online = [] { return true; };
        c.mountPath = [] { return std::optional<QString>(); };
        c.refreshSearchIndex = [](DriveCore::CancelToken) -> QCoro::Task<> { co_return; };
        c.reveal = [](const QList<QUrl> &) {};
        c.open = [](const QUrl &) {};
        return c;
    }

    QProcess xvfb;
    QByteArray display;
    TestSupport::ScopedEnvironment env;
};

TEST_F(SearchShortcutTest, ControlAltOOpensSearchOncePerPress)
{
    SearchShortcut shortcut;
    ASSERT_TRUE(shortcut.isRegistered());
    int presses = 0;
    QPointer<SearchWindow> window;
    // The application's opener: one search window, raised again when it is open.
    QObject::connect(&shortcut, &SearchShortcut::pressed, [&] {
        ++presses;
        if (!window)
            window = new SearchWindow(context());
        window->show();
        window->raise();
    });
    press("ctrl+alt+o");
    ASSERT_TRUE(spinUntil([&] { return window && window->isVisible(); }));
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Search Ovra"));
    TestSupport::saveScreenshot(*window, QStringLiteral("search-from-shortcut"));

    // Other keys are not ours; the next press comes through once.
    press("ctrl+o");
    press("alt+o");
    press("ctrl+alt+o");
    ASSERT_TRUE(spinUntil([&] { return presses == 2; }));
    TestSupport::spinUntil([] { return false; }, 100ms);
    EXPECT_EQ(presses, 2);
    delete window;
}

TEST_F(SearchShortcutTest, SilentlyAbsentWhenHeldElsewhereOutsideX11OrWithoutAServer)
{
    {
        SearchShortcut first;
        ASSERT_TRUE(first.isRegistered());
        // Another client holds the combination: no shortcut, no message.
        SearchShortcut second;
        EXPECT_FALSE(second.isRegistered());
    }
    // The first one let go of the key when it went.
    SearchShortcut again;
    EXPECT_TRUE(again.isRegistered());

    env.set("XDG_SESSION_TYPE", "wayland");
    SearchShortcut wayland;
    EXPECT_FALSE(wayland.isRegistered());

    env.set("XDG_SESSION_TYPE", "x11");
    env.set("DISPLAY", ":99999");
    SearchShortcut noServer;
    EXPECT_FALSE(noServer.isRegistered());
}

} // namespace
