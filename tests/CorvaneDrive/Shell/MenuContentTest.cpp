// The menu's rows as a pure function of the model's values, as tables.
#include "CorvaneDrive/Shell/MenuContent.h"

#include <gtest/gtest.h>

using namespace CorvaneDrive;
using namespace CorvaneDrive::MenuContent;
using DriveCore::AppModel;
using Phase = DriveCore::AppModelPhase;

namespace {

// A row written compactly: "-" a separator, "[x]" a disabled button, "(x)" a text line, "x"
// an enabled button.
QString show(const Row &row)
{
    switch (row.kind) {
    case Row::separator:
        return QStringLiteral("-");
    case Row::text:
        return QStringLiteral("(") + row.title + u')';
    case Row::button:
        return row.enabled ? row.title : QStringLiteral("[") + row.title + u']';
    }
    return {};
}

QStringList shown(const Input &input)
{
    QStringList lines;
    for (const Row &row : rows(input))
        lines << show(row);
    return lines;
}

Input running(QString status = AppModel::allSafeText)
{
    return {.versionLine = QStringLiteral("Ovra 1.0.0"),
            .phase = Phase{Phase::running, {}},
            .statusLine = std::move(status),
            .hasSettings = true};
}

const QStringList tail = {QStringLiteral("Uploads…"), QStringLiteral("Recently Deleted…"),
                          QStringLiteral("Copy all my files to this computer…"), QStringLiteral("-")};

} // namespace

TEST(MenuContent, NeedsSetupShowsOnlyTheSetupEntryBetweenHeaderAndQuit)
{
    Input input = running();
    input.phase = Phase{Phase::needsSetup, {}};
    input.versionLine.reset();
    EXPECT_EQ(shown(input),
              (QStringList{"(Ovra)", "(Your files. Your space.)", "-", "Set up Ovra…", "-", "Quit Ovra"}));
}

TEST(MenuContent, RunningAndAllSafeHasNoStatusGroup)
{
    QStringList expected = {"(Ovra 1.0.0)", "(Your files. Your space.)", "-", "Search drive…", "Open in File Manager"};
    expected << tail
             << QStringList{"Share Files…", "Shared Links…", "-", "Check for Updates…", "Settings…", "-", "Quit Ovra"};
    EXPECT_EQ(shown(running()), expected);
}

// The section between the header's separator and "Search drive…", and the enabled state of
// the entries that depend on the phase.
TEST(MenuContent, StatusGroupAndEnabledEntriesFollowThePhase)
{
    struct Case {
        const char *name;
        std::function<void(Input &)> change;
        QStringList group; // rows before "Search drive…"
        bool search = true;
        bool finder = true;
        bool share = true;
    };
    const QString extensionOff = AppModel::extensionOffText;
    const std::vector<Case> cases = {
        {.name = "offline, all safe",
         .change = [](Input &i) { i.phase = Phase{Phase::offline, {}}; },
         .group = {"(Offline)", "-"},
         .share = false},
        {.name = "offline, waiting",
         .change =
             [](Input &i) {
                 i.phase = Phase{Phase::offline, {}};
                 i.statusLine = AppModel::waitingText;
             },
         .group = {"(Waiting for internet)", "-"},
         .share = false},
        {.name = "extension off",
         .change =
             [&](Input &i) {
                 i.phase = Phase::makeProblem(extensionOff);
                 i.statusLine = extensionOff;
                 i.canRetryLaunch = true;
                 i.needsExtensionSwitch = true;
             },
         .group = {"(" + extensionOff + ")", "Try Again", "-", "Show How…", "-"},
         .finder = false,
         .share = false},
        {.name = "ejected with a status line",
         .change =
             [](Input &i) {
                 i.isEjected = true;
                 i.statusLine = AppModel::ejectedText;
             },
         .group = {"(Ejected — your uploads keep going)", "Reconnect", "-"},
         .finder = false},
        {.name = "ejected while all safe: no group, so no Reconnect",
         .change = [](Input &i) { i.isEjected = true; },
         .group = {},
         .finder = false},
        {.name = "keep progress",
         .change = [](Input &i) { i.keepProgress = QStringLiteral("Keeping 2 of 5 files…"); },
         .group = {"(Keeping 2 of 5 files…)", "-"}},
        {.name = "settings unreadable",
         .change =
             [](Input &i) {
                 i.phase = Phase::makeProblem(AppModel::settingsUnreadableText);
                 i.statusLine = AppModel::settingsUnreadableText;
                 i.hasSettings = false;
             },
         .group = {"(Settings couldn't be read)", "-"},
         .search = false,
         .finder = false,
         .share = false},
        {.name = "starting",
         .change =
             [](Input &i) {
                 i.phase = Phase{Phase::starting, {}};
                 i.statusLine = AppModel::connectingText;
             },
         .group = {"(Connecting…)", "-"},
         .finder = false,
         .share = false},
        {.name = "a link being made", .change = [](Input &i) { i.creatingShare = true; }, .group = {}, .share = false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Input input = running();
        c.change(input);
        const QStringList lines = shown(input);
        const qsizetype search = std::max(lines.indexOf("Search drive…"), lines.indexOf("[Search drive…]"));
        ASSERT_GE(search, 3);
        EXPECT_EQ(lines.mid(3, search - 3), c.group);
        EXPECT_EQ(lines[search], c.search ? "Search drive…" : "[Search drive…]");
        EXPECT_EQ(lines[search + 1], c.finder ? "Open in File Manager" : "[Open in File Manager]");
        EXPECT_TRUE(lines.contains(c.share ? "Share Files…" : "[Share Files…]"));
    }
}

TEST(MenuContent, ConflictsAddTheirEntryWithTheCount)
{
    Input input = running();
    input.conflicts = 2;
    const QStringList lines = shown(input);
    const qsizetype conflicts = lines.indexOf("Resolve conflicts… (2)");
    ASSERT_NE(conflicts, -1);
    EXPECT_EQ(lines[conflicts + 1], "Check for Updates…");
    input.conflicts = 0;
    EXPECT_FALSE(shown(input).join(u'|').contains("Resolve conflicts"));
}

TEST(MenuContent, EntriesCarryTheirActionsAndShortcuts)
{
    Input input = running();
    input.conflicts = 1;
    QHash<QString, Row> byTitle;
    for (const Row &row : rows(input))
        byTitle.insert(row.title, row);
    EXPECT_EQ(byTitle["Search drive…"].action, Action::search);
    EXPECT_EQ(byTitle["Search drive…"].shortcut, QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_O));
    EXPECT_EQ(byTitle["Settings…"].shortcut, QKeySequence(Qt::CTRL | Qt::Key_Comma));
    EXPECT_EQ(byTitle["Quit Ovra"].action, Action::quit);
    EXPECT_EQ(byTitle["Quit Ovra"].shortcut, QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(byTitle["Resolve conflicts… (1)"].action, Action::resolveConflicts);
    EXPECT_EQ(byTitle["Open in File Manager"].action, Action::openInFinder);
    EXPECT_EQ(byTitle["Check for Updates…"].action, Action::checkForUpdates);
    for (const Row &row : rows(input))
        if (row.kind != Row::button)
            EXPECT_EQ(row.action, Action::none) << row.title.toStdString();
}
