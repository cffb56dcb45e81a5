// The home window and the tray menu rendering the same rows, on the offscreen platform over a
// model built on fakes; a screenshot of each face.
#include "../../DriveCore/model/AppModelFixture.h"

#include "CorvaneDrive/Shell/HomeWindow.h"
#include "CorvaneDrive/Shell/TrayIcon.h"
#include "CorvaneDrive/TopLevelWindow.h"
#include "support/Screenshots.h"
#include "support/WindowChecks.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>

using namespace CorvaneDrive;
using namespace DriveCore;
using Access = DriveCore::AppModelTestAccess;
using Phase = DriveCore::AppModelPhase;
using MenuContent::Action;

namespace {

class HomeWindowTest : public AppModelTest::ModelTest {
protected:
    MenuFeed &feed()
    {
        if (!m_feed)
            m_feed = std::make_unique<MenuFeed>(&model(), [this](Action action) { performed.push_back(action); });
        return *m_feed;
    }

    void run(const QString &status)
    {
        Access::setSettings(model(), settings);
        Access::setPhase(model(), Phase{Phase::running, {}});
        Access::assign(model(), Access::statusLine(model()), status, &AppModel::statusLineChanged);
    }

    std::vector<Action> performed;
    std::unique_ptr<MenuFeed> m_feed;
};

} // namespace

TEST_F(HomeWindowTest, ShowsTheMenuRowsAndTheHintInAFixedWidthThatGrowsDown)
{
    Access::setPhase(model(), Phase{Phase::needsSetup, {}});
    HomeWindow window(&feed());
    window.show();
    QApplication::processEvents();
    TestSupport::saveScreenshot(window, QStringLiteral("home-window-needs-setup"));
    const int width = window.width();
    const int shortHeight = window.height();
    EXPECT_EQ(width, HomeWindow::columnWidth + 2 * HomeWindow::padding);
    ASSERT_NE(window.entry(QStringLiteral("Set up Ovra…")), nullptr);
    EXPECT_EQ(window.entry(QStringLiteral("Search drive…")), nullptr);
    bool hint = false;
    for (QLabel *label : window.findChildren<QLabel *>())
        hint = hint || label->text() == HomeWindow::hintText;
    EXPECT_TRUE(hint);

    // Running, with a long status line and conflicts: the same width, taller.
    run(AppModel::uploadProblemText);
    QList<DriveConflict> conflicts{
        {QStringLiteral("a.txt"), QStringLiteral("a (conflict from Mac).txt"), QStringLiteral("Mac")}};
    Access::assign(model(), Access::conflicts(model()), conflicts, &AppModel::conflictsChanged);
    QApplication::processEvents();
    TestSupport::saveScreenshot(window, QStringLiteral("home-window-running-with-conflict"));
    EXPECT_EQ(window.width(), width);
    EXPECT_GT(window.height(), shortHeight);
    ASSERT_NE(window.entry(QStringLiteral("Resolve conflicts… (1)")), nullptr);
    EXPECT_EQ(window.entry(QStringLiteral("Set up Ovra…")), nullptr);

    // A click runs the entry's action once the click is over; disabled entries take none.
    auto *uploads = qobject_cast<QAbstractButton *>(window.entry(QStringLiteral("Uploads…")));
    ASSERT_NE(uploads, nullptr);
    QTest::mouseClick(uploads, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !performed.empty(); }));
    EXPECT_EQ(performed, std::vector<Action>{Action::uploads});
    Access::setPhase(model(), Phase{Phase::offline, {}});
    QApplication::processEvents();
    auto *share = qobject_cast<QAbstractButton *>(window.entry(QStringLiteral("Share Files…")));
    ASSERT_NE(share, nullptr);
    EXPECT_FALSE(share->isEnabled());
    TestSupport::saveScreenshot(window, QStringLiteral("home-window-offline"));
}

TEST_F(HomeWindowTest, TrayMenuHoldsTheSameRowsAndStaysCurrent)
{
    run(AppModel::allSafeText);
    TrayIcon tray(nullptr, &feed());
    QMenu *menu = tray.menu();
    const auto titles = [&] {
        QStringList list;
        for (QAction *action : menu->actions())
            list << (action->isSeparator() ? QStringLiteral("-")
                                           : action->text() + (action->isEnabled() ? "" : " (off)"));
        return list;
    };
    EXPECT_EQ(titles().mid(0, 4),
              (QStringList{"Ovra 1.0.0 (off)", "Your files. Your space. (off)", "-", "Search drive…"}));
    Access::setPhase(model(), Phase{Phase::needsSetup, {}});
    EXPECT_EQ(
        titles(),
        (QStringList{"Ovra 1.0.0 (off)", "Your files. Your space. (off)", "-", "Set up Ovra…", "-", "Quit Ovra"}));
    menu->actions().at(3)->trigger();
    ASSERT_TRUE(waitFor([&] { return !performed.empty(); }));
    EXPECT_EQ(performed, std::vector<Action>{Action::setUp});
}

TEST_F(HomeWindowTest, FitsAtALargeDesktopFontAndNamesEveryEntry)
{
    TestSupport::ScopedAppFont font(11);
    run(AppModel::uploadProblemText);
    QList<DriveConflict> conflicts{
        {QStringLiteral("a.txt"), QStringLiteral("a (conflict from Mac).txt"), QStringLiteral("Mac")}};
    Access::assign(model(), Access::conflicts(model()), conflicts, &AppModel::conflictsChanged);
    TopLevelWindow::announceRoles();
    HomeWindow window(&feed());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    TestSupport::saveScreenshot(window, QStringLiteral("home-window-11pt"));
    TestSupport::expectTextsFit(window);
    TestSupport::expectAccessibleNames(window);
    // A screen reader announces it as a window, not as a filler.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&window)->role(), QAccessible::Window);
    // Escape closes it, and so does Ctrl+W.
    for (const QKeyCombination keys : {QKeyCombination(Qt::Key_Escape), QKeyCombination(Qt::CTRL | Qt::Key_W)}) {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, keys.key(), keys.keyboardModifiers());
        EXPECT_FALSE(window.isVisible()) << QKeySequence(keys).toString().toStdString();
    }
}

TEST_F(HomeWindowTest, AClickOnTheTrayIconOpensTheMenu)
{
    run(AppModel::allSafeText);
    TrayIcon tray(nullptr, &feed());
    tray.show();
    ASSERT_NE(tray.icon(), nullptr);
    // What a panel turns a left click into.
    emit tray.icon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(waitFor([&] { return tray.menu()->isVisible(); }));
    TestSupport::saveScreenshot(*tray.menu(), QStringLiteral("tray-menu-from-click"));
    tray.menu()->hide();
}

TEST_F(HomeWindowTest, TheOpenTrayMenuChangesItsRowsInPlaceAndMovesNoneUntilItCloses)
{
    run(QStringLiteral("Uploading 3 files"));
    TrayIcon tray(nullptr, &feed());
    QMenu *menu = tray.menu();
    menu->popup(QPoint(10, 10));
    ASSERT_TRUE(waitFor([&] { return menu->isVisible(); }));
    const QList<QAction *> shown = menu->actions();
    ASSERT_EQ(shown.at(3)->text(), QStringLiteral("Uploading 3 files"));
    menu->setActiveAction(shown.last());

    // A new status line: the same entries, the new text, the highlighted row kept.
    Access::assign(model(), Access::statusLine(model()), QStringLiteral("Uploading 2 files"),
                   &AppModel::statusLineChanged);
    EXPECT_EQ(menu->actions(), shown);
    EXPECT_EQ(shown.at(3)->text(), QStringLiteral("Uploading 2 files"));
    EXPECT_EQ(menu->activeAction(), shown.last());

    // All safe takes the status line and its separator away: not while the menu is open.
    Access::assign(model(), Access::statusLine(model()), AppModel::allSafeText, &AppModel::statusLineChanged);
    EXPECT_EQ(menu->actions(), shown);
    EXPECT_EQ(menu->activeAction(), shown.last());
    menu->hide();
    ASSERT_TRUE(waitFor([&] { return menu->actions().size() == shown.size() - 2; }));
    EXPECT_EQ(menu->actions().at(3)->text(), QStringLiteral("Search drive…"));
}
