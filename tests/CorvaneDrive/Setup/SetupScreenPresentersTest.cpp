// What each setup screen shows and does, as tables over real assistants.
#include "CorvaneDrive/Setup/DonePresenter.h"
#include "CorvaneDrive/Setup/NameAndCachePresenter.h"
#include "CorvaneDrive/Setup/PassphrasePresenter.h"
#include "CorvaneDrive/Setup/RecoveryKitPresenter.h"
#include "CorvaneDrive/Setup/StoragePresenter.h"
#include "CorvaneDrive/Setup/TurnOnDrivePresenter.h"

#include "DriveCore/support/Tasks.h"
#include "SetupFixture.h"
#include "support/ScopedEnvironment.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace CorvaneDrive;
using DriveCore::SetupState;
using DriveCore::SetupStep;
using TestSupport::await;

namespace {

std::shared_ptr<SetupFixture::FakeConnection> storage()
{
    return std::make_shared<SetupFixture::FakeConnection>();
}

TEST(StoragePresenter, BodyAndExplanationFollowTheRoadAndTheChoices)
{
    using Body = StoragePresenter::Body;
    using Explanation = StoragePresenter::Explanation;
    using Entry = SetupState::StorageEntry;
    const struct {
        bool existing;
        Entry entry;
        bool token;
        StoragePresenter::Face face;
    } cases[] = {
        // A new drive never shows the picker or the Recovery Kit, whatever the entry field holds.
        {false, Entry::recoveryKit, true, {false, Body::manual, Explanation::cloudflareKeyInstructions, true}},
        {false, Entry::recoveryKit, false, {false, Body::manual, Explanation::r2Instructions, false}},
        {false, Entry::manual, false, {false, Body::manual, Explanation::r2Instructions, false}},
        {true, Entry::recoveryKit, true, {true, Body::recoveryKit, Explanation::cloudflareKeyInstructions, true}},
        {true, Entry::manual, true, {true, Body::manual, Explanation::cloudflareKeyInstructions, true}},
        // The existing drive's road never shows the R2 keys panel.
        {true, Entry::manual, false, {true, Body::manual, Explanation::existingDriveLine, false}},
    };
    for (const auto &c : cases) {
        SetupState state(SetupFixture::deps(storage()));
        c.existing ? state.chooseExistingDrive() : state.chooseNewDrive();
        state.setStorageEntry(c.entry);
        state.setUseCloudflareKey(c.token);
        EXPECT_EQ(StoragePresenter::face(state), c.face) << c.existing << int(c.entry) << c.token;
    }
}

TEST(StoragePresenter, InstructionPanelsReadAsWritten)
{
    EXPECT_EQ(StoragePresenter::endpointPlaceholder(), QStringLiteral("https://<account id>.r2.cloudflarestorage.com"));
    EXPECT_EQ(StoragePresenter::shortR2Address(), QStringLiteral("https://….r2.cloudflarestorage.com"));

    const StoragePresenter::Panel token = StoragePresenter::cloudflareKeyInstructions();
    EXPECT_EQ(
        token.lines,
        (QStringList{
            QStringLiteral("Your files are stored in your own Cloudflare R2 account:"),
            QStringLiteral("1. In Cloudflare, open R2 and create a bucket (any name, e.g. \"my-drive\"). Copy the "
                           "S3 API address (https://….r2.cloudflarestorage.com) from the R2 overview."),
            QStringLiteral("2. Open Manage Account → Account API Tokens → Create Token. Pick \"Edit Cloudflare "
                           "Workers\", open its account policy, make sure \"Workers R2 Storage\" has Edit ticked, "
                           "tick \"Account Analytics\" Read, then Review token → Create token."),
            QStringLiteral("3. Paste the address, the bucket name and the API token below. The same token lets "
                           "Ovra set up your share links later."),
        }));
    EXPECT_EQ(
        token.note,
        QStringLiteral("Use a Cloudflare account just for Ovra: this token can reach every bucket in the account."));

    const StoragePresenter::Panel keys = StoragePresenter::r2Instructions();
    EXPECT_EQ(keys.lines,
              (QStringList{
                  QStringLiteral("Your files are stored in your own Cloudflare R2 account:"),
                  QStringLiteral("1. In Cloudflare, open R2 and create a bucket (any name, e.g. \"my-drive\")."),
                  QStringLiteral("2. In R2, choose Manage API Tokens → Create Account API Token. Pick \"Object Read & "
                                 "Write\" and apply it to this bucket only."),
                  QStringLiteral("3. Copy the Access Key ID, Secret Access Key and the endpoint "
                                 "(https://….r2.cloudflarestorage.com) into the boxes below."),
              }));
    EXPECT_EQ(keys.note, std::nullopt);

    for (const StoragePresenter::Panel &panel : {token, keys}) {
        EXPECT_EQ(panel.linkTitle, QStringLiteral("Open Cloudflare"));
        EXPECT_EQ(panel.link, QUrl(QStringLiteral("https://dash.cloudflare.com")));
        EXPECT_TRUE(panel.link.path().isEmpty());
    }
}

TEST(PassphrasePresenter, TextsAndWhenCopyIsOffered)
{
    EXPECT_EQ(PassphrasePresenter::newIntro(),
              QStringLiteral("Your passphrase locks your files. Nobody can open them without it — not even Corvane, "
                             "who make Ovra. Use at least 20 characters, or let the app make one."));

    SetupState state(SetupFixture::deps(storage()));
    const struct {
        QString passphrase;
        QString confirm;
        bool shown;
        bool copy;
    } cases[] = {
        {{}, {}, true, false},
        {{}, QStringLiteral("typed only in the second field"), true, false},
        {QStringLiteral("p"), {}, false, false},
        {QStringLiteral("p"), {}, true, true},
    };
    for (const auto &c : cases) {
        state.setPassphrase(c.passphrase);
        state.setConfirmPassphrase(c.confirm);
        EXPECT_EQ(PassphrasePresenter::showsCopy(state, c.shown), c.copy)
            << c.passphrase.toStdString() << "/" << c.confirm.toStdString() << "/" << c.shown;
    }
}

TEST(TurnOnDrivePresenter, StepsShowTheirMarkedWordsInBold)
{
    const struct {
        QString marked;
        QString html;
    } cases[] = {
        {TurnOnDrivePresenter::steps[0], QStringLiteral("1. Click <b>Show How</b> below.")},
        {TurnOnDrivePresenter::steps[1],
         QStringLiteral("2. Install <b>bindfs</b>, then make sure <b>/dev/fuse</b> is usable, as the page shows.")},
        {TurnOnDrivePresenter::steps[2],
         QStringLiteral("3. Once <b>Ovra File System</b> can be used, come back here.")},
        {QStringLiteral("a <b> & **c<d**"), QStringLiteral("a &lt;b&gt; &amp; <b>c&lt;d</b>")},
        {QStringLiteral("left **open"), QStringLiteral("left **open")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TurnOnDrivePresenter::emphasised(c.marked), c.html) << c.marked.toStdString();
}

class TurnOnDrivePoll : public ::testing::Test {
protected:
    // An assistant on the turn-on step whose layer answers `switchOn`, counting the questions.
    std::unique_ptr<SetupState> onTurnOnStep()
    {
        auto deps = SetupFixture::deps(storage());
        deps.driveSwitchOn = [this]() -> QCoro::Task<bool> {
            ++asks;
            co_return switchOn;
        };
        auto state = std::make_unique<SetupState>(deps);
        state->chooseNewDrive();
        SetupFixture::fillKeys(*state);
        await(state->next());
        state->generate();
        state->setAcknowledged(true);
        await(state->next());
        EXPECT_EQ(state->step(), SetupStep{SetupStep::turnOnDrive});
        return state;
    }
    DriveCore::TaskHandle<> start(SetupState &state)
    {
        return DriveCore::TaskHandle<>::start(
            [state = QPointer(&state), sleep = sleep.sleep()](DriveCore::CancelToken token) {
                return TurnOnDrivePresenter::poll(state, sleep, token);
            });
    }

    int asks = 0;
    bool switchOn = false;
    SetupFixture::ManualSleeps sleep;
};

TEST_F(TurnOnDrivePoll, AsksAtOnceThenTwoSecondsAfterEachAnswerUntilTheStepMoves)
{
    auto state = onTurnOnStep();
    DriveCore::TaskHandle<> poll = start(*state);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return sleep.asked().size() == 1; }));
    EXPECT_EQ(asks, 1);
    EXPECT_EQ(sleep.asked().front(), std::chrono::seconds(2));
    EXPECT_FALSE(state->error()) << "an answer of off shows nothing";

    sleep.releaseAll();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return sleep.asked().size() == 2; }));
    EXPECT_EQ(asks, 2);

    switchOn = true;
    sleep.releaseAll();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return state->step() == SetupStep{SetupStep::nameAndCache}; }));
    EXPECT_EQ(asks, 3);
    sleep.releaseAll();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return poll.isFinished(); }));
    EXPECT_EQ(asks, 3);
}

TEST_F(TurnOnDrivePoll, EndsWhenCancelledOrTheAssistantIsGone)
{
    auto state = onTurnOnStep();
    DriveCore::TaskHandle<> poll = start(*state);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return sleep.asked().size() == 1; }));
    poll.cancel();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return poll.isFinished(); }));
    EXPECT_EQ(asks, 1);

    DriveCore::TaskHandle<> again = start(*state);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return sleep.asked().size() == 2; }));
    EXPECT_EQ(asks, 2) << "a new round asks at once";
    state.reset();
    sleep.releaseAll();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return again.isFinished(); }));
    EXPECT_EQ(asks, 2);
}

TEST(NameAndCachePresenter, SliderFollowsTheFreeSpace)
{
    const struct {
        qint64 freeBytes;
        qint64 max;
        qint64 cache;
        bool slider;
    } cases[] = {
        {25'999'999'999, 5, 5, false},
        {20'500'000'000, 5, 5, false}, // under 1 GB beyond the 20 GB kept free
        {26'000'000'000, 6, 6, true},
        {100'000'000'000, 80, 30, true},
    };
    for (const auto &c : cases) {
        const SetupState state(SetupFixture::deps(storage(), c.freeBytes));
        EXPECT_EQ(state.maxCacheGB(), c.max) << c.freeBytes;
        EXPECT_EQ(state.cacheGB(), c.cache) << c.freeBytes;
        EXPECT_EQ(NameAndCachePresenter::showsSlider(state.maxCacheGB()), c.slider) << c.freeBytes;
    }
    EXPECT_EQ(NameAndCachePresenter::cacheText(5),
              QStringLiteral("Space on this computer for recently opened files: 5 GB"));
    EXPECT_EQ(NameAndCachePresenter::sliderLabel(5), QStringLiteral("5 GB"));
    EXPECT_EQ(NameAndCachePresenter::sliderLabel(80), QStringLiteral("80 GB"));
    EXPECT_EQ(NameAndCachePresenter::appearsText(QStringLiteral("Ovra work")),
              QStringLiteral("It will appear in your file manager as \u201COvra work\u201D."));
}

const QString code = QStringLiteral("CDKIT1.AbC-_09xyz");

TEST(RecoveryKitPresenter, FileIsTheKitTextByteForByte)
{
    const QByteArray bytes = RecoveryKitPresenter::fileBytes(code);
    const QByteArray head = "Ovra Recovery Kit\n\n";
    const QByteArray tail =
        "\n\nOn another Mac: open Ovra, choose \"I already have a drive\", then \"Paste Recovery Kit\".";
    EXPECT_EQ(head.size(), 19);
    EXPECT_EQ(tail.size(), 88);
    EXPECT_EQ(bytes,
              head
                  + "Save this code in your password manager. With it and your passphrase you can open your "
                    "drive on any Mac.\n\n"
                  + code.toUtf8() + tail);
    EXPECT_EQ(bytes.count('\n'), 6) << "seven lines, no line feed at the end";
    EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));
}

TEST(RecoveryKitPresenter, SavesAtomicallyAndReplacesAnOlderFile)
{
    const QTemporaryDir folder;
    const QString path = folder.filePath(RecoveryKitPresenter::fileName);
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(4096, 'x'));
    }
    RecoveryKitPresenter::save(path, code);
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), RecoveryKitPresenter::fileBytes(code));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{RecoveryKitPresenter::fileName});
}

TEST(RecoveryKitPresenter, AFailedSaveSaysWhereAndLeavesNothing)
{
    // A "folder" that is a file cannot take the kit, whoever runs the test.
    const QTemporaryDir folder;
    const QString notAFolder = folder.filePath(QStringLiteral("notes"));
    {
        QFile file(notAFolder);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    try {
        RecoveryKitPresenter::save(notAFolder + QStringLiteral("/Ovra Recovery Kit.txt"), code);
        ADD_FAILURE() << "saved below a file";
    } catch (const RecoveryKitPresenter::SaveError &error) {
        EXPECT_EQ(error.description,
                  QStringLiteral("The file \u201COvra Recovery Kit.txt\u201D couldn't be saved in the folder \u201C")
                      + notAFolder + QStringLiteral("\u201D."));
        EXPECT_FALSE(error.detail.isEmpty());
    }
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{QStringLiteral("notes")});
}

TEST(RecoveryKitPresenter, SaveOpensInTheDocumentsFolderElseHome)
{
    for (const bool documents : {true, false}) {
        const QTemporaryDir home;
        TestSupport::ScopedEnvironment environment;
        environment.set("HOME", home.path().toUtf8());
        environment.set("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
        if (documents)
            ASSERT_TRUE(QDir(home.path()).mkdir(QStringLiteral("Documents")));
        EXPECT_EQ(RecoveryKitPresenter::saveFolder(),
                  documents ? home.path() + QStringLiteral("/Documents") : home.path())
            << "with a documents folder: " << documents;
    }
}

TEST(RecoveryKitPresenter, DetailsAreTheTrimmedStorageFieldsInOrder)
{
    SetupState state(SetupFixture::deps(storage()));
    SetupFixture::fillKeys(state);
    EXPECT_EQ(RecoveryKitPresenter::detailRows(state.storageSecrets()),
              (QList<RecoveryKitPresenter::Row>{{QStringLiteral("Endpoint"), QStringLiteral("http://127.0.0.1:9000")},
                                                {QStringLiteral("Bucket"), QStringLiteral("photos")},
                                                {QStringLiteral("Access Key ID"), QStringLiteral("AKID")},
                                                {QStringLiteral("Secret Access Key"), QStringLiteral("SECRET")}}));
}

TEST(DonePresenter, NamesTheDriveTheLoginItemAndWhereTheMenuIs)
{
    const std::optional<QString> loginFailed = SetupState::loginFailedText;
    const struct {
        std::optional<QString> settingsName;
        QString setupName;
        std::optional<QString> loginNote;
        bool trayShown;
        QString text;
    } cases[] = {
        {std::nullopt, QStringLiteral("Ovra"), std::nullopt, true,
         QStringLiteral("\u201COvra\u201D is now in your file manager. Ovra lives in the system tray and opens by "
                        "itself when you log in.")},
        {std::nullopt, QStringLiteral("Ovra"), loginFailed, true,
         QStringLiteral("\u201COvra\u201D is now in your file manager. Ovra lives in the system tray.")},
        {QStringLiteral("Photos"), QStringLiteral("Ovra"), loginFailed, true,
         QStringLiteral("\u201CPhotos\u201D is now in your file manager. Ovra lives in the system tray.")},
        {QStringLiteral("50%2 off"), QStringLiteral("Ovra"), loginFailed, true,
         QStringLiteral("\u201C50%2 off\u201D is now in your file manager. Ovra lives in the system tray.")},
        // Without a tray the home window shows the menu: no tray is promised.
        {std::nullopt, QStringLiteral("Ovra"), std::nullopt, false,
         QStringLiteral("\u201COvra\u201D is now in your file manager. Ovra keeps its menu in its own window and "
                        "opens by itself when you log in.")},
        {QStringLiteral("50%2 off"), QStringLiteral("Ovra"), loginFailed, false,
         QStringLiteral("\u201C50%2 off\u201D is now in your file manager. Ovra keeps its menu in its own window.")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(DonePresenter::text(c.settingsName, c.setupName, c.loginNote, c.trayShown), c.text)
            << c.setupName.toStdString() << " tray " << c.trayShown;
}

} // namespace
