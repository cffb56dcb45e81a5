// What the settings window, its tabs and its sheets show and allow, as tables without a display.
#include "CorvaneDrive/Settings/ChangeKeysPresenter.h"
#include "CorvaneDrive/Settings/KeptFilesPresenter.h"
#include "CorvaneDrive/Settings/PassphraseSheet.h"
#include "CorvaneDrive/Settings/SettingsPresenter.h"
#include "CorvaneDrive/Settings/SignOutPresenter.h"
#include "DriveCore/support/AppModelError.h"

#include <QTimeZone>

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace CorvaneDrive;
using DriveCore::PinStatus;
using DriveCore::SignOutStep;

namespace {

template<typename E>
std::exception_ptr error(E value)
{
    return std::make_exception_ptr(std::move(value));
}

TEST(SettingsPresenter, TabsAndSheetsGoByTheirNames)
{
    QStringList labels;
    for (const SettingsPresenter::Tab tab : SettingsPresenter::tabs()) {
        labels << SettingsPresenter::rawValue(tab);
        EXPECT_EQ(SettingsPresenter::tab(SettingsPresenter::rawValue(tab)), tab);
    }
    EXPECT_EQ(labels, (QStringList{"General", "Kept on This Computer", "Storage & Cache"}));
    EXPECT_NE(SettingsPresenter::iconName(SettingsPresenter::Tab::storage),
              SettingsPresenter::iconName(SettingsPresenter::Tab::kept));
    QStringList sheets;
    for (const SettingsPresenter::SheetKind kind : SettingsPresenter::sheetKinds()) {
        sheets << SettingsPresenter::rawValue(kind);
        EXPECT_EQ(SettingsPresenter::sheetKind(SettingsPresenter::rawValue(kind)), kind);
    }
    EXPECT_EQ(sheets, (QStringList{"keys", "recoveryKit", "signOut", "addIPhone", "iPhoneSync"}));
    for (const QString unknown : {"", "general", "Storage", "sign-out"}) {
        EXPECT_EQ(SettingsPresenter::tab(unknown), std::nullopt) << unknown.toStdString();
        EXPECT_EQ(SettingsPresenter::sheetKind(unknown), std::nullopt) << unknown.toStdString();
    }
}

TEST(SettingsPresenter, FailuresShowTheModelsTextOrOneFixedText)
{
    EXPECT_EQ(SettingsPresenter::failureText(error(DriveCore::AppModelError("Wait for the drive change to finish."))),
              "Wait for the drive change to finish.");
    EXPECT_EQ(SettingsPresenter::failureText(error(std::runtime_error("rc: 500"))),
              "Something went wrong. Try again in a moment.");
    EXPECT_EQ(SettingsPresenter::failureText(error(42)), "Something went wrong. Try again in a moment.");
}

TEST(SettingsPresenter, GeneralTabRows)
{
    const struct {
        std::optional<QVariantMap> info;
        QString line;
    } versions[] = {
        {QVariantMap{{"CFBundleShortVersionString", "1.4"}}, "Ovra 1.4"},
        {QVariantMap{{"CFBundleShortVersionString", ""}}, "Ovra"},
        {QVariantMap{}, "Ovra"},
        {std::nullopt, "Ovra"},
    };
    for (const auto &c : versions)
        EXPECT_EQ(SettingsPresenter::versionLine(c.info), c.line);

    // The phone switch: disabled only while off where sync is not available.
    EXPECT_TRUE(SettingsPresenter::phoneSwitchEnabled(true, false));
    EXPECT_TRUE(SettingsPresenter::phoneSwitchEnabled(true, true));
    EXPECT_TRUE(SettingsPresenter::phoneSwitchEnabled(false, true));
    EXPECT_FALSE(SettingsPresenter::phoneSwitchEnabled(false, false));
    EXPECT_EQ(SettingsPresenter::phoneFooter(false),
              "The iCloud Keychain option is not available in this version. \"Add an iPhone…\" works without it.");

    QStringList engines;
    for (const DriveCore::DriveEngine engine : SettingsPresenter::engines())
        engines << SettingsPresenter::engineLabel(engine) + '=' + engine.rawValue();
    EXPECT_EQ(engines, (QStringList{"Classic=nfs", "New (test)=fskit"}));
}

TEST(SettingsPresenter, CacheSliderRunsFromFiveToTheLargestSizeWithTwoDistinctEnds)
{
    using Range = SettingsPresenter::CacheRange;
    const struct {
        qint64 maxCacheGB;
        Range range;
    } cases[] = {
        {100, {.lower = 5, .upper = 100, .top = 100}},
        {6, {.lower = 5, .upper = 6, .top = 6}},
        // At 5 and below the slider still needs a top above its bottom; the label keeps the size.
        {5, {.lower = 5, .upper = 5, .top = 6}},
        {3, {.lower = 3, .upper = 3, .top = 4}},
        {1, {.lower = 1, .upper = 1, .top = 2}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SettingsPresenter::cacheRange(c.maxCacheGB), c.range) << c.maxCacheGB;
    EXPECT_EQ(SettingsPresenter::gigabytes(30), "30 GB");
}

TEST(SettingsPresenter, ApplyNeedsRoomAMovedSliderInsideTheRangeAndNoChangeRunning)
{
    const SettingsPresenter::CacheRange roomy = SettingsPresenter::cacheRange(80);
    // No room to choose: the slider's top end (6) is only there to draw it.
    const SettingsPresenter::CacheRange noRoom = SettingsPresenter::cacheRange(5);
    const struct {
        qint64 slider;
        qint64 stored;
        bool canChange;
        bool applying;
        SettingsPresenter::CacheRange range;
        bool enabled;
    } cases[] = {
        {30, 30, true, false, roomy, false},  {31, 30, true, false, roomy, true}, {29, 30, true, false, roomy, true},
        {31, 30, false, false, roomy, false}, {31, 30, true, true, roomy, false}, {80, 30, true, false, roomy, true},
        {81, 30, true, false, roomy, false},  {6, 5, true, false, noRoom, false}, {4, 5, true, false, noRoom, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SettingsPresenter::canApply(c.slider, c.stored, c.canChange, c.applying, c.range), c.enabled)
            << c.slider << ' ' << c.stored << ' ' << c.canChange << ' ' << c.applying << ' ' << c.range.upper;
    EXPECT_TRUE(roomy.choosable());
    EXPECT_FALSE(noRoom.choosable());
    EXPECT_FALSE(SettingsPresenter::cacheRange(3).choosable());
    EXPECT_TRUE(SettingsPresenter::cacheRange(6).choosable());
}

TEST(SettingsPresenter, StorageSectionShowsFiguresElseTheFailureElseTheWait)
{
    using Lines = SettingsPresenter::UsageLines;
    const DriveCore::StorageUsage usage{.driveBytes = 12'000'000'000, .recentlyDeletedBytes = 0};
    const Lines figures = SettingsPresenter::usageLines(usage, QString("ignored"));
    EXPECT_EQ(figures.kind, Lines::figures);
    EXPECT_EQ(figures.lines, (QStringList{usage.usedText(), usage.costText()}));
    EXPECT_EQ(SettingsPresenter::usageLines(std::nullopt,
                                            QString("The drive isn't connected right now. Try again in a moment.")),
              (Lines{Lines::failure, {"The drive isn't connected right now. Try again in a moment."}}));
    EXPECT_EQ(SettingsPresenter::usageLines(std::nullopt, std::nullopt),
              (Lines{Lines::waiting, {"Adding up your files…"}}));
}

TEST(SettingsPresenter, CloudflareSectionReadsTheMonthSoFarAndItsForecast)
{
    using Lines = SettingsPresenter::CloudflareLines;
    const QDateTime now(QDate(2026, 4, 15), QTime(12, 0), Qt::UTC);
    // 1.5 TB held every day so far, 2 million uploads and listings, 20 million downloads.
    DriveCore::R2MonthUsage month;
    for (int day = 1; day <= 15; ++day)
        month.dailyPeakBytes.insert(QStringLiteral("2026-04-%1").arg(day, 2, 10, QChar('0')), 1'500'000'000'000);
    month.classA = 2'000'000;
    month.classB = 20'000'000;
    const Lines figures = SettingsPresenter::cloudflareLines(month, std::nullopt, true, now);
    EXPECT_EQ(figures.kind, Lines::figures);
    EXPECT_EQ(figures.soFarLabel, "So far in April");
    EXPECT_EQ(figures.wholeLabel, "Likely for all of April");
    EXPECT_TRUE(figures.soFar.startsWith('$')) << figures.soFar.toStdString();
    EXPECT_TRUE(figures.whole.startsWith("about $")) << figures.whole.toStdString();
    const DriveCore::R2Bill whole = month.forecast(DriveCore::BillingMonth(now));
    EXPECT_EQ(figures.text,
              QStringLiteral("Storage %1 · Uploads and listings %2 · Downloads %3")
                  .arg(DriveCore::CloudflareBill::amount(whole.storage),
                       DriveCore::CloudflareBill::amount(whole.classA),
                       DriveCore::CloudflareBill::amount(whole.classB)));

    // A few requests within the free units: nothing to pay, said as such.
    DriveCore::R2MonthUsage tiny;
    tiny.dailyPeakBytes.insert("2026-04-01", 1000);
    const Lines free = SettingsPresenter::cloudflareLines(tiny, std::nullopt, true, now);
    EXPECT_EQ(free.soFar, "$0.00");
    EXPECT_EQ(free.whole, "about $0.00");

    EXPECT_EQ(SettingsPresenter::cloudflareLines(std::nullopt, QString("Cloudflare didn't give the usage figures: x"),
                                                 true, now),
              (Lines{.kind = Lines::failure, .text = "Cloudflare didn't give the usage figures: x"}));
    EXPECT_EQ(SettingsPresenter::cloudflareLines(std::nullopt, std::nullopt, false, now),
              (Lines{.kind = Lines::asking, .text = "Asking Cloudflare…"}));
    EXPECT_EQ(SettingsPresenter::cloudflareLines(std::nullopt, std::nullopt, true, now),
              (Lines{.kind = Lines::noKey,
                     .text = "To see what Cloudflare measured, use Change storage keys… → Cloudflare API token."}));
}

// --- Kept on This Computer ---

PinStatus pin(QString path, qint64 bytes, QString state = "done", bool isDir = false, qint64 bytesDone = -1)
{
    return {.path = std::move(path),
            .isDir = isDir,
            .bytes = bytes,
            .bytesDone = bytesDone < 0 ? bytes : bytesDone,
            .state = std::move(state)};
}

TEST(KeptFilesPresenter, SummaryCountsEveryItemAndTheBytesHereOnce)
{
    EXPECT_EQ(KeptFilesPresenter::summary({}), "0 items · 0 bytes downloaded");
    EXPECT_EQ(KeptFilesPresenter::summary({pin("a.txt", 1000)}), "1 item · 1 kB downloaded");
    // The file inside the kept folder counts through the folder.
    EXPECT_EQ(KeptFilesPresenter::summary({pin("Photos", 2'000'000, "done", true), pin("Photos/b.jpg", 500'000)}),
              "2 items · 2 MB downloaded");
}

TEST(KeptFilesPresenter, StatusTextAndSymbolFollowTheState)
{
    const struct {
        QString state;
        QString text;
        std::optional<QString> icon;
    } cases[] = {
        {"done", "Available offline", std::nullopt},
        {"missing", "Not found in drive", "dialog-warning"},
        {"offline", "Waiting for internet · 2 kB downloaded", "dialog-warning"},
        {"lowSpace", "Low disk space · 2 kB downloaded", "dialog-warning"},
        {"downloading", "2 kB downloaded", "folder-download"},
        {"queued", "2 kB downloaded", "dialog-warning"},
    };
    for (const auto &c : cases) {
        const PinStatus item = pin("a.txt", 9000, c.state, false, 2000);
        EXPECT_EQ(KeptFilesPresenter::status(item), c.text) << c.state.toStdString();
        EXPECT_EQ(KeptFilesPresenter::statusIconName(item), c.icon) << c.state.toStdString();
    }
}

TEST(KeptFilesPresenter, EmptyStatesAndTheSelectAllBox)
{
    KeptFilesPresenter state;
    EXPECT_EQ(KeptFilesPresenter::emptyState(0, 0)->title, "Nothing kept yet");
    EXPECT_FALSE(state.canCheckAll());
    EXPECT_FALSE(state.allChecked());

    state.setItems({pin("Docs/a.txt", 1), pin("Docs/b.txt", 2)});
    state.setQuery("zzz");
    EXPECT_EQ(KeptFilesPresenter::emptyState(state.all().size(), state.visible().size())->title, "No matching items");
    EXPECT_FALSE(state.allChecked());
    EXPECT_FALSE(state.canCheckAll());
    state.setQuery("");
    EXPECT_EQ(KeptFilesPresenter::emptyState(2, 2), std::nullopt);
    state.setAllChecked(true);
    EXPECT_TRUE(state.allChecked());
    EXPECT_EQ(state.footerText(), "2 selected");
    state.setWorking(true);
    EXPECT_FALSE(state.canCheckAll());
    EXPECT_FALSE(state.actionsMenuEnabled());
}

TEST(KeptFilesPresenter, SearchAndSelectAllNarrowTheChecks)
{
    KeptFilesPresenter state;
    state.setItems({pin("Docs/a.txt", 1), pin("Docs/b.txt", 2), pin("Photos/c.jpg", 3)});
    state.setAllChecked(true);
    // A search unchecks what it hides.
    state.setQuery("Docs");
    EXPECT_EQ(state.selection(), (QSet<QString>{"Docs/a.txt", "Docs/b.txt"}));
    state.setQuery("a.txt");
    EXPECT_EQ(state.selectedPaths(), (QStringList{"Docs/a.txt"}));
    // Checks made under a search stay hidden when it changes back...
    state.setQuery("");
    state.setChecked("Photos/c.jpg", true);
    state.setQuery("Photos");
    state.setChecked("Photos/c.jpg", true);
    state.setQuery("");
    state.setChecked("Docs/a.txt", true);
    state.setQuery("Docs");
    // ...and select-all off clears those too.
    EXPECT_EQ(state.selection(), (QSet<QString>{"Docs/a.txt"}));
    state.setChecked("Docs/b.txt", true);
    state.setQuery("b.txt");
    state.setAllChecked(false);
    EXPECT_TRUE(state.selection().isEmpty());
    EXPECT_EQ(state.footerText(), "Right-click a file for actions");
}

TEST(KeptFilesPresenter, ANewKeptListDropsChecksOfItemsNoLongerKept)
{
    KeptFilesPresenter state;
    state.setItems({pin("a", 1), pin("b", 2), pin("c", 3)});
    state.setAllChecked(true);
    state.setItems({pin("a", 1), pin("c", 30, "downloading")});
    EXPECT_EQ(state.selection(), (QSet<QString>{"a", "c"}));
    // The end of a stop-keeping request narrows too, even when the list had already changed.
    state.setWorking(true);
    state.setItems({pin("c", 30)});
    state.setWorking(false);
    EXPECT_EQ(state.selection(), (QSet<QString>{"c"}));
}

TEST(KeptFilesPresenter, ContextMenuActsOnTheClickedRowOrOnEveryCheckedVisibleRow)
{
    KeptFilesPresenter state;
    state.setItems({pin("b.txt", 1), pin("a.txt", 2), pin("c.txt", 3)});
    state.setChecked("c.txt", true);
    state.setChecked("a.txt", true);
    EXPECT_EQ(state.contextPaths("b.txt"), (QStringList{"b.txt"}));
    EXPECT_EQ(state.contextPaths("c.txt"), (QStringList{"a.txt", "c.txt"})) << "in list order";
    EXPECT_EQ(state.contextPaths("gone.txt"), QStringList());

    using Actions = KeptFilesPresenter::Actions;
    const QStringList one{"a.txt"};
    EXPECT_EQ(state.actions(one, true, false), (Actions{one, true, true}));
    EXPECT_EQ(state.actions({}, true, false), (Actions{{}, false, false}));
    EXPECT_EQ(state.actions(one, false, false), (Actions{one, false, true})) << "no mount: nothing to show";
    EXPECT_EQ(state.actions(one, true, true), (Actions{one, true, false})) << "a drive change runs";
    state.setWorking(true);
    EXPECT_EQ(state.actions(one, true, false), (Actions{one, true, false})) << "a request runs";
}

TEST(KeptFilesPresenter, RevealKeepsOnlyPathsThatMapBackIntoTheDrive)
{
    const QString mount = "/home/ada/Mounts/My Drive";
    EXPECT_EQ(KeptFilesPresenter::revealURLs({"Docs/a.txt", "../escape", "", "Docs/../a.txt", "Photos"}, mount),
              (QList<QUrl>{QUrl::fromLocalFile(mount + "/Docs/a.txt"), QUrl::fromLocalFile(mount + "/Photos")}));
    EXPECT_TRUE(KeptFilesPresenter::revealURLs({"a.txt"}, std::nullopt).isEmpty());
    EXPECT_EQ(KeptFilesPresenter::checkAccessibleName("Docs/Report.pdf"), "Select Report.pdf");
}

// --- Sheets ---

TEST(PassphraseSheetPresenter, ConfirmNeedsTypedTextAndNoCheckRunning)
{
    PassphraseSheetPresenter state;
    EXPECT_FALSE(state.canConfirm());
    state.passphrase = " ";
    EXPECT_TRUE(state.canConfirm()) << "a blank counts as typed";
    state.working = true;
    EXPECT_FALSE(state.canConfirm());
    state.failed(error(DriveCore::AppModelError("That passphrase doesn't match this drive.")));
    EXPECT_EQ(state.error, "That passphrase doesn't match this drive.");
    EXPECT_EQ(state.passphrase, " ") << "kept to be corrected";
    state.succeeded();
    EXPECT_TRUE(state.passphrase.isEmpty());
}

TEST(ChangeKeysPresenter, SaveNeedsTheFieldsOfTheModeShown)
{
    const struct {
        bool token;
        QString endpoint, bucket, key, id, secret;
        bool working;
        bool enabled;
    } cases[] = {
        {true, "", "", "", "", "", false, false},
        {true, "https://x", "b", "t", "", "", false, true},
        {true, "https://x", "b", "", "id", "s", false, false},
        {false, "https://x", "b", "t", "", "", false, false},
        {false, "https://x", "b", "", "id", "", false, false},
        {false, "https://x", "b", "", "id", "s", false, true},
        {false, " ", " ", "", " ", " ", false, true},
        {true, "https://x", "b", "t", "", "", true, false},
    };
    for (const auto &c : cases) {
        ChangeKeysPresenter state{.endpoint = c.endpoint,
                                  .bucket = c.bucket,
                                  .accessKeyID = c.id,
                                  .secretAccessKey = c.secret,
                                  .useCloudflareKey = c.token,
                                  .cloudflareKey = c.key,
                                  .working = c.working};
        EXPECT_EQ(state.canSave(), c.enabled)
            << c.token << c.endpoint.toStdString() << c.key.toStdString() << c.working;
    }
    const ChangeKeysPresenter typed{
        .endpoint = " https://e\n", .bucket = "\tb ", .accessKeyID = "id ", .secretAccessKey = "s\r\n"};
    EXPECT_EQ(typed.secrets(), (DriveCore::StorageSecrets{"https://e", "b", "id", "s"}));
}

TEST(SignOutPresenter, ButtonsFollowTheRunAndHowItEnded)
{
    using B = SignOutPresenter::Button;
    SignOutPresenter state;
    EXPECT_EQ(state.buttons(), (QList<B>{B::cancel, B::signOut}));
    EXPECT_TRUE(state.canDismiss());
    state.begin();
    EXPECT_EQ(state.buttons(), QList<B>()) << "no step yet";
    EXPECT_FALSE(state.canDismiss());
    state.follow(SignOutStep::waiting(2));
    EXPECT_EQ(state.buttons(), (QList<B>{B::cancelSignOut, B::signOutAnyway}));
    state.follow(SignOutStep::deleting(true));
    EXPECT_EQ(state.buttons(), (QList<B>{B::cancelSignOut, B::signOutAnyway}));
    state.follow(SignOutStep{SignOutStep::removingKeys});
    EXPECT_EQ(state.buttons(), QList<B>());
    state.finish(SignOutStep{SignOutStep::done});
    EXPECT_EQ(state.buttons(), (QList<B>{B::close}));

    SignOutPresenter refused;
    refused.begin();
    refused.follow(SignOutStep{SignOutStep::stopping});
    refused.fail(error(DriveCore::SignOut::UnuploadedFiles()));
    EXPECT_EQ(refused.buttons(), (QList<B>{B::cancel, B::signOutAnyway, B::signOut}));
    EXPECT_EQ(refused.stepText(false), std::nullopt) << "the step line goes";
    EXPECT_EQ(refused.error(), "Some files haven't uploaded yet. Open Ovra again to let them finish, then sign out.");
    // A new run clears the refusal and keeps the old line until its first step.
    refused.begin();
    EXPECT_FALSE(refused.foundUnuploaded());
    EXPECT_EQ(refused.error(), std::nullopt);

    SignOutPresenter failed;
    failed.begin();
    failed.follow(SignOutStep{SignOutStep::removingLocalFiles});
    failed.fail(error(std::runtime_error("Permission denied...")));
    EXPECT_EQ(failed.buttons(), (QList<B>{B::cancel, B::signOut}));
    EXPECT_EQ(failed.stepText(false), "Removing the drive's files from this computer…") << "where it stopped";
    EXPECT_EQ(failed.error(),
              "Sign out didn't finish: Permission denied. Nothing was removed after that step. Try again.");

    SignOutPresenter nothing;
    nothing.follow(SignOutStep{SignOutStep::cancelled});
    nothing.finish(std::nullopt);
    nothing.begin();
    nothing.finish(std::nullopt);
    EXPECT_EQ(nothing.stepText(false), "Sign out cancelled. Nothing was changed.") << "a run that never started";
    EXPECT_FALSE(nothing.running());
}

TEST(SignOutPresenter, StepLinesReadAsTheRunReportsThem)
{
    const struct {
        SignOutStep step;
        bool discarded;
        QString text;
    } cases[] = {
        {SignOutStep::waiting(0), false, "Waiting for 0 files to finish uploading…"},
        {SignOutStep::waiting(1), false, "Waiting for 1 file to finish uploading…"},
        {SignOutStep::waiting(12), false, "Waiting for 12 files to finish uploading…"},
        {SignOutStep::deleting(false), false, "Finishing moving deleted files to Recently Deleted…"},
        {SignOutStep::deleting(true), false,
         "Some deleted files can't be moved to Recently Deleted right now. If you sign out anyway, they stay where "
         "they "
         "were in your drive."},
        {SignOutStep{SignOutStep::stopping}, true, "Disconnecting the drive…"},
        {SignOutStep{SignOutStep::removingKeys}, false, "Removing your keys from this computer…"},
        {SignOutStep{SignOutStep::done}, false, "Signed out. Your files are safe in the cloud."},
        {SignOutStep{SignOutStep::done}, true,
         "Signed out. Files that hadn't uploaded were removed from this computer."},
        {SignOutStep{SignOutStep::cancelled}, true, "Sign out cancelled. Nothing was changed."},
    };
    for (const auto &c : cases) {
        SignOutPresenter state;
        state.follow(c.step);
        EXPECT_EQ(state.stepText(c.discarded), c.text);
    }
}

TEST(SignOutPresenter, TheForceQuestionNamesWhatWouldBeLost)
{
    using Q = SignOutPresenter::ForceQuestion;
    using K = SignOutPresenter::ForceKind;
    const struct {
        Q question;
        QString title, body, confirm;
    } cases[] = {
        {Q{.kind = K::uploads, .count = 1}, "1 file hasn't uploaded yet.",
         "If you sign out now, they'll be deleted from this computer and won't be in your drive.",
         "Delete Them and Sign Out"},
        {Q{.kind = K::uploads, .count = 3}, "3 files haven't uploaded yet.",
         "If you sign out now, they'll be deleted from this computer and won't be in your drive.",
         "Delete Them and Sign Out"},
        {Q{.kind = K::uploads, .count = 0}, "Some files haven't uploaded yet.",
         "If you sign out now, they'll be deleted from this computer and won't be in your drive.",
         "Delete Them and Sign Out"},
        {Q{.kind = K::uploads}, "Some files haven't uploaded yet.",
         "If you sign out now, they'll be deleted from this computer and won't be in your drive.",
         "Delete Them and Sign Out"},
        {Q{.kind = K::deletes, .count = 4}, "Deleted files are still moving to Recently Deleted.",
         "If you sign out now, they'll stay where they were in your drive. Nothing is lost.", "Sign Out Anyway"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.question.title(), c.title);
        EXPECT_EQ(c.question.body(), c.body);
        EXPECT_EQ(c.question.confirmTitle(), c.confirm);
    }
    SignOutPresenter state;
    state.begin();
    state.follow(SignOutStep::deleting(false));
    EXPECT_EQ(state.askForce(std::nullopt).kind, K::deletes);
    state.follow(SignOutStep::waiting(2));
    EXPECT_EQ(state.askForce(2), (Q{.run = 1, .running = true, .kind = K::uploads, .count = 2}));
}

// A question is acted on only for the run and the kind it was asked about; answered after the
// run moved on, it is asked again where forcing is still offered, and dropped otherwise.
TEST(SignOutPresenter, ConfirmingActsOnlyWhileTheRunAndTheKindStillHold)
{
    using A = SignOutPresenter::ForceAction;
    enum Then { same, nextStepUploads, nextStepDeletes, working, refused, failed, done, newRun };
    const auto waitingFor = [](SignOutStep step) {
        SignOutPresenter state;
        state.begin();
        state.follow(step);
        return state;
    };
    const auto refusal = [] {
        SignOutPresenter state;
        state.begin();
        state.fail(error(DriveCore::SignOut::UnuploadedFiles()));
        return state;
    };
    const auto move = [](SignOutPresenter state, Then then) {
        switch (then) {
        case same:
            break;
        case nextStepUploads:
            state.follow(SignOutStep::waiting(1));
            break;
        case nextStepDeletes:
            state.follow(SignOutStep::deleting(false));
            break;
        case working:
            state.follow(SignOutStep{SignOutStep::stopping});
            break;
        case refused:
            state.fail(error(DriveCore::SignOut::UnuploadedFiles()));
            break;
        case failed:
            state.fail(error(std::runtime_error("boom")));
            break;
        case done:
            state.finish(SignOutStep{SignOutStep::done});
            break;
        case newRun:
            state.begin();
            state.follow(SignOutStep::waiting(1));
            break;
        }
        return state;
    };
    const struct {
        SignOutPresenter asked;
        Then then;
        A action;
    } cases[] = {
        {waitingFor(SignOutStep::waiting(3)), same, A::requestForce},
        {waitingFor(SignOutStep::deleting(false)), same, A::requestForce},
        // The deletes question must not become consent to losing uploads, nor the other way.
        {waitingFor(SignOutStep::deleting(false)), nextStepUploads, A::askAgain},
        {waitingFor(SignOutStep::waiting(3)), nextStepDeletes, A::askAgain},
        {waitingFor(SignOutStep::waiting(3)), working, A::nothing},
        // The run ended while the question was open: no forced run starts from it.
        {waitingFor(SignOutStep::deleting(false)), refused, A::askAgain},
        {waitingFor(SignOutStep::waiting(3)), refused, A::askAgain},
        {waitingFor(SignOutStep::waiting(3)), failed, A::nothing},
        {waitingFor(SignOutStep::waiting(3)), done, A::nothing},
        {refusal(), same, A::startForced},
        {refusal(), newRun, A::askAgain},
    };
    for (const auto &c : cases) {
        const SignOutPresenter::ForceQuestion question = c.asked.askForce(3);
        EXPECT_EQ(move(c.asked, c.then).confirmForce(question), c.action) << "then " << int(c.then);
    }
}

} // namespace
