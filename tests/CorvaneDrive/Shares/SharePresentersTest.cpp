// The share windows' presenters without a display: which face shows, when buttons are enabled,
// and every text the windows derive from the share model's state.
#include "CorvaneDrive/Shares/LinkRowPresenter.h"
#include "CorvaneDrive/Shares/SharedLinksPresenter.h"
#include "CorvaneDrive/Shares/ShareDonePresenter.h"
#include "CorvaneDrive/Shares/ShareFormPresenter.h"
#include "CorvaneDrive/Shares/ShareSetupPresenter.h"
#include "CorvaneDrive/Shares/ShareText.h"
#include "CorvaneDrive/Shares/ShareWindowPresenter.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace DriveCore;
using CreateState = SharesModel::CreateState;
using Face = ShareWindowPresenter::Face;

namespace {

const QLocale us(QStringLiteral("en_US"));
const QTimeZone utc(QByteArrayLiteral("UTC"));
const ShareInfo::Status ended{ShareInfo::Status::ended, std::nullopt};
const ShareInfo::Status unknown{ShareInfo::Status::unknown, std::nullopt};

ShareRecord record(const QString &id = QString(22, u'A'))
{
    ShareRecord record;
    record.id = id;
    record.secret = QString(43, u's');
    record.title = QStringLiteral("Holiday");
    record.fileCount = 2;
    record.totalBytes = 1'500'000;
    record.createdAt = QDateTime::fromSecsSinceEpoch(1'767'366'245, Qt::UTC); // 2 Jan 2026 15:04
    record.workerURL = QUrl(QStringLiteral("https://ovra-share-photos.alice.workers.dev/"));
    record.createdBy = QStringLiteral("Kitchen Mac");
    return record;
}

ShareInfo::Status live(qint64 downloads, std::optional<qint64> maxDownloads)
{
    return ShareInfo::Status::makeLive({std::nullopt, maxDownloads, downloads, 1, 5});
}

TEST(ShareWindowPresenter, ShowsTheFirstFaceWhoseConditionHolds)
{
    const CreateState preparing = CreateState::makePreparing({1, 3});
    const CreateState done = CreateState::makeDone(record());
    const CreateState failed = CreateState::makeFailed(QStringLiteral("nope"));
    const QString offline = QStringLiteral("You're offline.");
    const struct {
        const char *what;
        ShareWindowPresenter::State state;
        Face face;
    } cases[] = {
        {"a failed look-up before any succeeded", {offline, false, false, preparing}, Face::error},
        {"a failed look-up wins over a link page", {offline, false, true, done}, Face::error},
        {"a failure after a successful look-up", {offline, true, true, {}}, Face::form},
        {"nothing looked up yet", {std::nullopt, false, false, {}}, Face::opening},
        {"no link page, even while a link is made", {std::nullopt, true, false, preparing}, Face::setup},
        {"idle", {std::nullopt, true, true, {}}, Face::form},
        {"failed", {std::nullopt, true, true, failed}, Face::form},
        {"preparing", {std::nullopt, true, true, preparing}, Face::preparing},
        {"done", {std::nullopt, true, true, done}, Face::done},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ShareWindowPresenter::face(c.state), c.face) << c.what;
}

TEST(ShareWindowPresenter, KeepsTheFormOnlyBetweenIdleAndFailed)
{
    const auto key = [](CreateState state) {
        return ShareWindowPresenter::key({std::nullopt, true, true, std::move(state)});
    };
    EXPECT_EQ(key({}), key(CreateState::makeFailed(QStringLiteral("x"))));
    EXPECT_NE(key({}), key(CreateState::makePreparing({})));
    EXPECT_EQ(key(CreateState::makePreparing({0, 0})), key(CreateState::makePreparing({5, 9})));
    EXPECT_NE(key(CreateState::makeDone(record(QString(22, u'A')))),
              key(CreateState::makeDone(record(QString(22, u'B')))));
}

TEST(ShareWindowPresenter, WordsTheProgress)
{
    const std::vector<std::pair<ShareProgress, std::optional<QString>>> cases{
        {{0, 0}, std::nullopt},
        {{5, 0}, std::nullopt},
        {{0, 1}, QStringLiteral("0% · 0 bytes of 1 byte")},
        {{1, 3}, QStringLiteral("33% · 1 byte of 3 bytes")},
        {{2, 3}, QStringLiteral("66% · 2 bytes of 3 bytes")}, // cut, not rounded
        {{999'999, 1'000'000}, QStringLiteral("99% · 1 MB of 1 MB")},
        {{1'500'000'000, 3'000'000'000}, QStringLiteral("50% · 1.5 GB of 3 GB")},
        {{3'000'000'000, 3'000'000'000}, QStringLiteral("100% · 3 GB of 3 GB")},
    };
    for (const auto &[progress, line] : cases)
        EXPECT_EQ(ShareWindowPresenter::progressLine(progress), line) << progress.done << "/" << progress.total;
    EXPECT_EQ(ShareWindowPresenter::preparingText(QStringLiteral("a.txt and 1 more")),
              QStringLiteral("Ovra is making a locked copy of “a.txt and 1 more” for this link. Big movies take about "
                             "as long as uploading them. Keep Ovra open; you can close this window."));
}

TEST(ShareSetupPresenter, SetsUpWithATokenOfMoreThanBlanksWhileNoneRuns)
{
    const struct {
        QString token;
        bool settingUp;
        bool enabled;
    } cases[] = {
        {"", false, false},   {"   ", false, false},    {" \t ", false, false},
        {"tok", false, true}, {"  tok\t", false, true}, {"tok\n", false, true}, // pasted with its line end
        {"tok", true, false},
    };
    for (const auto &c : cases) {
        ShareSetupPresenter presenter(false);
        presenter.token = c.token;
        EXPECT_EQ(presenter.canSetUp(c.settingUp), c.enabled) << c.token.toStdString() << " " << c.settingUp;
    }
}

TEST(ShareSetupPresenter, KeepsARefusedTokenAndTitlesAnUpdate)
{
    ShareSetupPresenter presenter(false);
    EXPECT_EQ(presenter.title(), QStringLiteral("Set up share links (one time)"));
    EXPECT_EQ(ShareSetupPresenter(true).title(), QStringLiteral("Update your link page"));
    presenter.token = QStringLiteral("tok");
    presenter.setUpEnded(QStringLiteral("That key can't set up Workers."));
    EXPECT_EQ(presenter.token, QStringLiteral("tok"));
    presenter.setUpEnded(std::nullopt);
    EXPECT_EQ(presenter.token, QString());
    EXPECT_EQ(ShareSetupPresenter::tokensPage.path(), QStringLiteral("/profile/api-tokens"));
}

TEST(ShareSetupPresenter, ShowsWordsBetweenDoubleAsterisksBold)
{
    EXPECT_EQ(
        ShareSetupPresenter::emphasised(ShareSetupPresenter::steps[1]),
        QStringLiteral("2. Name it <b>Ovra</b> and click <b>Edit Cloudflare Workers</b> under Permission policies."));
    EXPECT_EQ(ShareSetupPresenter::emphasised(QStringLiteral("a <b> & **x")),
              QStringLiteral("a &lt;b&gt; &amp; <b>x</b>"));
}

TEST(ShareFormPresenter, StartsFromItsDefaultsAndListsItsOptionsInOrder)
{
    const ShareFormPresenter form;
    EXPECT_EQ(form.options(), (ShareOptions{ShareExpiry::sevenDays, std::nullopt, std::nullopt}));
    EXPECT_EQ(form.customLimit, 3);
    EXPECT_FALSE(form.showsCustomLimit() || form.showsPassword() || form.showsNeverNote());
    QStringList expiries;
    for (const auto &option : ShareFormPresenter::expiryOptions)
        expiries.append(option.first);
    EXPECT_EQ(expiries, (QStringList{"1 hour", "1 day", "7 days", "30 days", "Always (until I stop it)"}));
    QStringList limits;
    for (const auto &option : ShareFormPresenter::limitOptions)
        limits.append(option.first);
    EXPECT_EQ(limits, (QStringList{"No limit", "1 download", "5 downloads", "10 downloads", "Other…"}));
    EXPECT_EQ(ShareFormPresenter::heading(QStringLiteral("Shared files")), QStringLiteral("Share “Shared files”"));
}

TEST(ShareFormPresenter, CreatesOnlyWithSomethingPickedNothingBlockingAndAPasswordWhenAsked)
{
    const QString blocked =
        QStringLiteral("Your drive isn't connected right now. Try again when Ovra shows your drive.");
    const struct {
        const char *what;
        bool picked;
        std::optional<QString> blocked;
        bool usePassword;
        QString password;
        bool enabled;
    } cases[] = {
        {"defaults", true, std::nullopt, false, "", true},
        {"nothing picked", false, std::nullopt, false, "", false},
        {"blocked", true, blocked, false, "", false},
        {"blocked with a password", true, blocked, true, "pw", false},
        {"a password asked, none typed", true, std::nullopt, true, "", false},
        {"one character", true, std::nullopt, true, "p", true},
        {"only a space", true, std::nullopt, true, " ", true},
        {"typed, then not asked", true, std::nullopt, false, "pw", true},
    };
    for (const auto &c : cases) {
        ShareFormPresenter form;
        form.usePassword = c.usePassword;
        form.password = c.password;
        EXPECT_EQ(form.canCreate(c.picked, c.blocked), c.enabled) << c.what;
    }
}

TEST(ShareFormPresenter, HandsTheChoicesOnAsTheyAre)
{
    using Limit = ShareFormPresenter::Limit;
    const struct {
        ShareExpiry expiry;
        Limit limit;
        qint64 custom;
        bool usePassword;
        QString password;
        ShareOptions options;
    } cases[] = {
        {ShareExpiry::oneHour, Limit::one, 3, false, "", {ShareExpiry::oneHour, 1, std::nullopt}},
        {ShareExpiry::oneDay, Limit::five, 3, true, "pw", {ShareExpiry::oneDay, 5, QStringLiteral("pw")}},
        {ShareExpiry::thirtyDays, Limit::ten, 3, true, " ", {ShareExpiry::thirtyDays, 10, QStringLiteral(" ")}},
        {ShareExpiry::never, Limit::custom, 42, false, "kept", {ShareExpiry::never, 42, std::nullopt}},
        {ShareExpiry::sevenDays, Limit::custom, 0, false, "", {ShareExpiry::sevenDays, 0, std::nullopt}}, // unchecked
        {ShareExpiry::sevenDays, Limit::custom, 20'000, false, "", {ShareExpiry::sevenDays, 20'000, std::nullopt}},
        {ShareExpiry::sevenDays, Limit::none, 42, false, "", {ShareExpiry::sevenDays, std::nullopt, std::nullopt}},
    };
    for (const auto &c : cases) {
        ShareFormPresenter form;
        form.expiry = c.expiry;
        form.limit = c.limit;
        form.customLimit = c.custom;
        form.usePassword = c.usePassword;
        form.password = c.password;
        EXPECT_EQ(form.options(), c.options) << c.expiry.text().toStdString() << " " << int(c.limit);
        EXPECT_EQ(form.showsNeverNote(), c.expiry == ShareExpiry::never);
        EXPECT_EQ(form.showsCustomLimit(), c.limit == Limit::custom);
    }
    EXPECT_EQ(ShareFormPresenter::failureText(CreateState::makeFailed(SharesModel::downloadLimitText)),
              SharesModel::downloadLimitText);
    EXPECT_EQ(ShareFormPresenter::failureText({}), std::nullopt);
}

TEST(ShareFormPresenter, StepsWithinOneToTenThousand)
{
    const struct {
        qint64 value;
        int steps;
        qint64 result;
    } cases[] = {{3, -1, 2},          {1, -1, 1}, {2, -5, 1},          {9'999, 1, 10'000},
                 {10'000, 1, 10'000}, {0, 1, 1},  {20'000, -1, 10'000}};
    for (const auto &c : cases)
        EXPECT_EQ(ShareFormPresenter::stepped(c.value, c.steps), c.result) << c.value << " " << c.steps;
}

TEST(ShareText, DescribesALinksRules)
{
    const QDateTime end = QDateTime::fromSecsSinceEpoch(1'767'366'245, Qt::UTC);
    const struct {
        std::optional<QDateTime> expiresAt;
        std::optional<qint64> maxDownloads;
        std::optional<QString> password;
        QString rules;
    } cases[] = {
        {std::nullopt, std::nullopt, std::nullopt, "no expiry"},
        {std::nullopt, 1, std::nullopt, "no expiry · 1 download"},
        {std::nullopt, 5, std::nullopt, "no expiry · 5 downloads"},
        {std::nullopt, 0, std::nullopt, "no expiry · 0 downloads"},
        {std::nullopt, 1, QStringLiteral("pw"), "no expiry · 1 download · password"},
        {end, std::nullopt, QStringLiteral("pw"), QStringLiteral("expires Jan 2, 2026, 3:04\u202fPM · password")},
        {end, 10'000, std::nullopt, QStringLiteral("expires Jan 2, 2026, 3:04\u202fPM · 10000 downloads")},
    };
    for (const auto &c : cases) {
        ShareRecord shared = record();
        shared.expiresAt = c.expiresAt;
        shared.maxDownloads = c.maxDownloads;
        shared.password = c.password;
        EXPECT_EQ(ShareText::rules(shared, us, utc), c.rules);
    }
}

TEST(ShareDonePresenter, OffersTheWholeLinkAndThePasswordReminder)
{
    ShareRecord made = record();
    made.maxDownloads = 1;
    ShareDonePresenter plain(made);
    EXPECT_EQ(plain.summary(us, utc), QStringLiteral("“Holiday” · no expiry · 1 download"));
    EXPECT_EQ(plain.passwordLine(), std::nullopt);
    EXPECT_EQ(plain.copyTitle(), QStringLiteral("Copy Link"));
    const QString link =
        QStringLiteral("https://ovra-share-photos.alice.workers.dev/s/") + made.id + u'#' + made.secret;
    EXPECT_EQ(plain.copy(), link);
    EXPECT_EQ(plain.copyTitle(), QStringLiteral("Copied ✓"));
    EXPECT_EQ(plain.copy(), link) << "copying again writes the same link";

    made.password = QStringLiteral("correct horse");
    EXPECT_EQ(ShareDonePresenter(made).passwordLine(),
              QStringLiteral("Password: correct horse — send it separately, not with the link."));
}

TEST(LinkRowPresenter, WordsTheStatus)
{
    using Line = LinkRowPresenter::StatusLine;
    const struct {
        std::optional<ShareInfo::Status> status;
        Line line;
    } cases[] = {
        {std::nullopt, {"Checking…", Line::secondary}},
        {live(0, std::nullopt), {"● Active · 0 downloads", Line::green}},
        {live(1, std::nullopt), {"● Active · 1 download", Line::green}},
        {live(2, std::nullopt), {"● Active · 2 downloads", Line::green}},
        {live(1, 1), {"● Active · 1 of 1 downloads", Line::green}},
        {live(0, 5), {"● Active · 0 of 5 downloads", Line::green}},
        {ended, {"Ended (expired, used up or stopped)", Line::secondary}},
        {unknown, {"Couldn't check right now", Line::secondary}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(LinkRowPresenter({record(), c.status}).statusLine(), c.line) << c.line.text.toStdString();
}

TEST(LinkRowPresenter, OffersCopyingUntilTheLinkEndedAndNeverShowsThePassword)
{
    ShareRecord locked = record();
    locked.password = QStringLiteral("secret words");
    const struct {
        std::optional<ShareInfo::Status> status;
        bool password;
        bool copyLink;
        bool copyPassword;
        QString stop;
    } cases[] = {
        {std::nullopt, false, true, false, "Stop Sharing"},
        {std::nullopt, true, true, true, "Stop Sharing"},
        {unknown, true, true, true, "Stop Sharing"},
        {live(0, std::nullopt), true, true, true, "Stop Sharing"},
        {ended, true, false, false, "Remove"},
    };
    for (const auto &c : cases) {
        const LinkRowPresenter row({c.password ? locked : record(), c.status});
        SCOPED_TRACE(row.statusLine().text.toStdString());
        EXPECT_EQ(row.showsCopyLink(), c.copyLink);
        EXPECT_EQ(row.showsCopyPassword(), c.copyPassword);
        EXPECT_EQ(row.stopButtonTitle(), c.stop);
        EXPECT_FALSE(row.infoLine(us, utc).contains(u"secret") || row.madeLine(us, utc).contains(u"secret"));
    }

    ShareRecord tiny = record();
    tiny.fileCount = 1;
    tiny.totalBytes = 0;
    LinkRowPresenter row({tiny, std::nullopt});
    EXPECT_EQ(row.infoLine(us, utc), QStringLiteral("1 file · 0 bytes · no expiry"));
    EXPECT_EQ(LinkRowPresenter({record(), std::nullopt}).infoLine(us, utc),
              QStringLiteral("2 files · 1.5 MB · no expiry"));
    EXPECT_EQ(row.madeLine(us, utc), QStringLiteral("Made Jan 2, 2026, 3:04\u202fPM on Kitchen Mac"));
    EXPECT_EQ(row.copyTitle(), QStringLiteral("Copy Link"));
    row.copyLink();
    row.setRow({tiny, live(1, std::nullopt)});
    EXPECT_EQ(row.copyTitle(), QStringLiteral("Copied ✓")) << "a new status keeps the row's own state";
}

TEST(SharedLinksPresenter, AsksToRemoveAnEndedLinkAndToStopAnyOther)
{
    const ShareRecord holiday = record(QString(22, u'H'));
    const struct {
        const char *what;
        QList<SharesModel::Row> rows;
        QString title;
        QString message;
        QString button;
    } cases[] = {
        {"no row", {}, "Stop sharing “Holiday”?", SharedLinksPresenter::stopMessage, "Stop Sharing"},
        {"not fetched yet",
         {{holiday, std::nullopt}},
         "Stop sharing “Holiday”?",
         SharedLinksPresenter::stopMessage,
         "Stop Sharing"},
        {"unknown", {{holiday, unknown}}, "Stop sharing “Holiday”?", SharedLinksPresenter::stopMessage, "Stop Sharing"},
        {"live", {{holiday, live(0, 1)}}, "Stop sharing “Holiday”?", SharedLinksPresenter::stopMessage, "Stop Sharing"},
        {"ended",
         {{record(QString(22, u'X')), unknown}, {holiday, ended}},
         "Remove “Holiday” from the list?",
         SharedLinksPresenter::removeMessage,
         "Remove"},
        {"another link ended",
         {{record(QString(22, u'X')), ended}, {holiday, live(0, 1)}},
         "Stop sharing “Holiday”?",
         SharedLinksPresenter::stopMessage,
         "Stop Sharing"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        SharedLinksPresenter presenter;
        EXPECT_EQ(presenter.confirmTitle(c.rows), QString());
        presenter.confirmStop = holiday;
        EXPECT_EQ(presenter.confirmTitle(c.rows), c.title);
        EXPECT_EQ(presenter.confirmMessage(c.rows), c.message);
        EXPECT_EQ(presenter.confirmButton(c.rows), c.button);
    }
    EXPECT_EQ(
        SharedLinksPresenter::stopMessage,
        QStringLiteral("The link stops working straight away and its copy is deleted. Your own files aren't touched."));
    EXPECT_EQ(SharedLinksPresenter::removeMessage,
              QStringLiteral("This link has already ended. Removing it also deletes anything left of its copy."));
}

TEST(SharedLinksPresenter, ShowsASpinnerOnlyForAnEmptyListBeingLoaded)
{
    using ListFace = SharedLinksPresenter::ListFace;
    const QList<SharesModel::Row> one{{record(), std::nullopt}};
    const QString offline = QStringLiteral("You're offline. Try again when you're back online.");
    EXPECT_EQ(SharedLinksPresenter::listFace({}, true), ListFace::spinner);
    EXPECT_EQ(SharedLinksPresenter::listFace({}, false), ListFace::empty);
    EXPECT_EQ(SharedLinksPresenter::listFace(one, true), ListFace::rows);
    EXPECT_EQ(SharedLinksPresenter::emptyText(std::nullopt), QStringLiteral("No shared links yet."));
    EXPECT_EQ(SharedLinksPresenter::emptyText(offline), offline);
    EXPECT_EQ(SharedLinksPresenter::barMessage({}, offline), std::nullopt);
    EXPECT_EQ(SharedLinksPresenter::barMessage(one, offline), offline);
    EXPECT_EQ(SharedLinksPresenter::barMessage(one, std::nullopt), std::nullopt);
    EXPECT_FALSE(SharedLinksPresenter::canRefresh(true));
    EXPECT_TRUE(SharedLinksPresenter::canRefresh(false));
}

} // namespace
