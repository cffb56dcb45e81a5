// The setup window's routing, status area and bottom row, read from real assistants driven
// over a storage that answers at once.
#include "CorvaneDrive/Setup/SetupFlowPresenter.h"

#include "DriveCore/support/AppModelError.h"
#include "SetupFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace CorvaneDrive;
using DriveCore::SetupState;
using DriveCore::SetupStep;
using TestSupport::await;
using Footer = SetupFlowPresenter::Footer;
using Screen = SetupFlowPresenter::Screen;
using Status = SetupFlowPresenter::Status;

namespace {

class SetupFlowPresenterTest : public ::testing::Test {
protected:
    std::unique_ptr<SetupState> make() { return std::make_unique<SetupState>(SetupFixture::deps(connection)); }

    // Drives a new assistant to `screen` through its own actions.
    std::unique_ptr<SetupState> at(Screen screen, bool existing = false)
    {
        auto state = make();
        if (screen == Screen::welcome)
            return state;
        existing ? state->chooseExistingDrive() : state->chooseNewDrive();
        if (screen == Screen::storage)
            return state;
        connection->check = existing ? DriveCore::PassphraseCheck::correct : DriveCore::PassphraseCheck::newDrive;
        SetupFixture::fillKeys(*state);
        await(state->next());
        if (screen == Screen::newPassphrase || screen == Screen::existingPassphrase)
            return state;
        state->setPassphrase(QStringLiteral("twenty characters!!!"));
        state->setConfirmPassphrase(state->passphrase());
        state->setAcknowledged(true);
        await(state->next());
        if (screen == Screen::turnOnDrive)
            return state;
        await(state->next());
        if (screen == Screen::nameAndCache)
            return state;
        await(state->next());
        if (screen == Screen::recoveryKit)
            return state;
        state->closeRecoveryKit();
        return state;
    }

    std::shared_ptr<SetupFixture::FakeConnection> connection = std::make_shared<SetupFixture::FakeConnection>();
};

TEST_F(SetupFlowPresenterTest, EachStepHasItsScreen)
{
    const struct {
        SetupStep step;
        Screen screen;
    } cases[] = {
        {SetupStep{}, Screen::welcome},
        {SetupStep::storageStep(false), Screen::storage},
        {SetupStep::storageStep(true), Screen::storage},
        {SetupStep::passphraseStep(false), Screen::newPassphrase},
        {SetupStep::passphraseStep(true), Screen::existingPassphrase},
        {SetupStep{SetupStep::turnOnDrive}, Screen::turnOnDrive},
        {SetupStep{SetupStep::nameAndCache}, Screen::nameAndCache},
        {SetupStep::recoveryKitStep(QStringLiteral("CDKIT1.abc")), Screen::recoveryKit},
        {SetupStep{SetupStep::done}, Screen::done},
    };
    for (const auto &c : cases)
        EXPECT_EQ(SetupFlowPresenter::screen(c.step), c.screen) << int(c.step.kind);

    // The drivers reach each of them.
    for (const Screen screen : {Screen::welcome, Screen::storage, Screen::newPassphrase, Screen::turnOnDrive,
                                Screen::nameAndCache, Screen::recoveryKit, Screen::done})
        EXPECT_EQ(SetupFlowPresenter::screen(at(screen)->step()), screen) << int(screen);
    EXPECT_EQ(SetupFlowPresenter::screen(at(Screen::existingPassphrase, true)->step()), Screen::existingPassphrase);
}

TEST_F(SetupFlowPresenterTest, AFreshAssistantOnlyWhenThereIsNoneOrItFinished)
{
    EXPECT_TRUE(SetupFlowPresenter::needsFreshState(nullptr));
    EXPECT_FALSE(SetupFlowPresenter::needsFreshState(at(Screen::welcome).get()));
    EXPECT_FALSE(SetupFlowPresenter::needsFreshState(at(Screen::storage).get()));
    EXPECT_FALSE(SetupFlowPresenter::needsFreshState(at(Screen::recoveryKit).get()));
    EXPECT_TRUE(SetupFlowPresenter::needsFreshState(at(Screen::done).get()));
}

TEST_F(SetupFlowPresenterTest, StatusShowsTheErrorWithItsDetailsOrNothing)
{
    auto state = at(Screen::storage);
    EXPECT_EQ(SetupFlowPresenter::status(*state), Status{});

    state->setUseCloudflareKey(false);
    await(state->next());
    EXPECT_EQ(SetupFlowPresenter::status(*state),
              (Status{Status::error, QStringLiteral("Fill in all four storage boxes."), std::nullopt}));

    SetupFixture::fillKeys(*state);
    connection->storage = DriveCore::ConnectionError{DriveCore::ConnectionError::other, QStringLiteral("HTTP 500")};
    await(state->next());
    EXPECT_EQ(SetupFlowPresenter::status(*state),
              (Status{Status::error, QStringLiteral("Something went wrong connecting to your storage. Try again."),
                      QStringLiteral("HTTP 500")}));
}

TEST_F(SetupFlowPresenterTest, StatusShowsTheProgressTextWhileAStepRuns)
{
    auto state = at(Screen::storage, true);
    state->setRecoveryKitCode(QStringLiteral("CDKIT1.AAAA"));
    state->setRecoveryKitPassphrase(QStringLiteral("x"));
    std::optional<Status> seen;
    QObject::connect(state.get(), &SetupState::changed, [&] {
        if (state->isBusy())
            seen = SetupFlowPresenter::status(*state);
    });
    await(state->applyRecoveryKit());
    EXPECT_EQ(seen, (Status{Status::busy, QStringLiteral("Opening your Recovery Kit…"), std::nullopt}));
    EXPECT_EQ(SetupFlowPresenter::status(*state).text, QStringLiteral("That doesn't look like a Recovery Kit code."));
}

TEST_F(SetupFlowPresenterTest, AKitErrorGoesWithTheKitFields)
{
    auto state = at(Screen::storage, true);
    state->setRecoveryKitCode(QStringLiteral("not a kit"));
    state->setRecoveryKitPassphrase(QStringLiteral("x"));
    await(state->applyRecoveryKit());
    EXPECT_EQ(SetupFlowPresenter::status(*state).text, SetupState::kitBadFormatText);
    state->setStorageEntry(SetupState::StorageEntry::manual);
    EXPECT_EQ(SetupFlowPresenter::status(*state), Status{}) << "the manual fields have nothing wrong yet";

    // An error of the manual fields stays on the manual body.
    state->setUseCloudflareKey(false);
    await(state->next());
    EXPECT_EQ(SetupFlowPresenter::status(*state).text, SetupState::missingStorageText);
}

TEST_F(SetupFlowPresenterTest, FooterOfEachScreen)
{
    const QString test = QStringLiteral("Test Connection");
    const QString open = QStringLiteral("Open Recovery Kit");
    const QString next = QStringLiteral("Continue");
    using Action = SetupFlowPresenter::PrimaryAction;

    EXPECT_EQ(SetupFlowPresenter::footer(*at(Screen::welcome)), std::nullopt);
    EXPECT_EQ(SetupFlowPresenter::footer(*at(Screen::recoveryKit)), std::nullopt);
    EXPECT_EQ(SetupFlowPresenter::footer(*at(Screen::done)), std::nullopt);
    EXPECT_EQ(SetupFlowPresenter::footer(*at(Screen::storage)), (Footer{test, true, true, Action::next}));
    EXPECT_EQ(SetupFlowPresenter::footer(*at(Screen::newPassphrase)), (Footer{next, true, true, Action::next}));
    EXPECT_EQ(SetupFlowPresenter::footer(*at(Screen::turnOnDrive)), (Footer{next, true, true, Action::next}));
    EXPECT_EQ(SetupFlowPresenter::footer(*at(Screen::nameAndCache)),
              (Footer{QStringLiteral("Finish Setup"), true, true, Action::next}));

    // An existing drive opens on the Recovery Kit: its button needs both fields, any character.
    auto existing = at(Screen::storage, true);
    const struct {
        QString code;
        QString passphrase;
        bool enabled;
    } kit[] = {{{}, {}, false},
               {QStringLiteral("CDKIT1.x"), {}, false},
               {{}, QStringLiteral("p"), false},
               {QStringLiteral(" "), QStringLiteral(" "), true}};
    for (const auto &c : kit) {
        existing->setRecoveryKitCode(c.code);
        existing->setRecoveryKitPassphrase(c.passphrase);
        EXPECT_EQ(SetupFlowPresenter::footer(*existing), (Footer{open, c.enabled, true, Action::applyRecoveryKit}))
            << c.code.toStdString() << "/" << c.passphrase.toStdString();
    }
    existing->setStorageEntry(SetupState::StorageEntry::manual);
    EXPECT_EQ(SetupFlowPresenter::footer(*existing), (Footer{test, true, true, Action::next}));

    // The existing drive's passphrase: not trimmed, so one blank enables it.
    auto passphrase = at(Screen::existingPassphrase, true);
    EXPECT_EQ(SetupFlowPresenter::footer(*passphrase), (Footer{next, false, true, Action::next}));
    passphrase->setPassphrase(QStringLiteral(" "));
    EXPECT_EQ(SetupFlowPresenter::footer(*passphrase), (Footer{next, true, true, Action::next}));
}

TEST_F(SetupFlowPresenterTest, BackIsGoneWhileBusyAndOnceTheFinishBegan)
{
    auto state = at(Screen::storage, true);
    state->setRecoveryKitCode(QStringLiteral("CDKIT1.AAAA"));
    state->setRecoveryKitPassphrase(QStringLiteral("x"));
    std::optional<bool> backWhileBusy;
    QObject::connect(state.get(), &SetupState::changed, [&] {
        if (state->isBusy())
            backWhileBusy = SetupFlowPresenter::footer(*state)->showsBack;
    });
    await(state->applyRecoveryKit());
    EXPECT_EQ(backWhileBusy, false);
    EXPECT_TRUE(SetupFlowPresenter::footer(*state)->showsBack);

    // A finish that fails after saving keeps "Back" away on the name step.
    auto deps = SetupFixture::deps(connection);
    deps.startDrive = []() -> QCoro::Task<> {
        throw DriveCore::AppModelError(QStringLiteral("Could not start the drive."));
        co_return;
    };
    SetupState finishing(deps);
    finishing.chooseNewDrive();
    SetupFixture::fillKeys(finishing);
    await(finishing.next());
    finishing.generate();
    finishing.setAcknowledged(true);
    await(finishing.next());
    await(finishing.next());
    ASSERT_EQ(SetupFlowPresenter::screen(finishing.step()), Screen::nameAndCache);
    await(finishing.next());
    ASSERT_EQ(SetupFlowPresenter::screen(finishing.step()), Screen::nameAndCache);
    EXPECT_EQ(SetupFlowPresenter::status(finishing).text, QStringLiteral("Could not start the drive."));
    EXPECT_FALSE(SetupFlowPresenter::footer(finishing)->showsBack);
}

} // namespace
