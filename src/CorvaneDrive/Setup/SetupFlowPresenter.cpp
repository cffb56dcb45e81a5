#include "CorvaneDrive/Setup/SetupFlowPresenter.h"

#include "CorvaneDrive/Setup/NameAndCachePresenter.h"
#include "CorvaneDrive/Setup/StoragePresenter.h"

namespace CorvaneDrive {

using DriveCore::SetupState;
using DriveCore::SetupStep;

SetupFlowPresenter::Screen SetupFlowPresenter::screen(const SetupStep &step)
{
    switch (step.kind) {
    case SetupStep::welcome:
        return Screen::welcome;
    case SetupStep::storage:
        return Screen::storage;
    case SetupStep::passphrase:
        return step.existing ? Screen::existingPassphrase : Screen::newPassphrase;
    case SetupStep::turnOnDrive:
        return Screen::turnOnDrive;
    case SetupStep::nameAndCache:
        return Screen::nameAndCache;
    case SetupStep::recoveryKit:
        return Screen::recoveryKit;
    case SetupStep::done:
        return Screen::done;
    }
    return Screen::welcome;
}

bool SetupFlowPresenter::needsFreshState(const SetupState *state)
{
    return !state || state->step().kind == SetupStep::done;
}

SetupFlowPresenter::Status SetupFlowPresenter::status(const SetupState &state)
{
    if (state.busyText())
        return {Status::busy, *state.busyText(), std::nullopt};
    if (const std::optional<DriveCore::SetupMessage> &error = state.error()) {
        // A failure to open the pasted kit is about the kit's fields: it goes with them.
        const bool aboutKit =
            error->text == SetupState::kitBadFormatText || error->text == SetupState::kitWrongPassphraseText;
        if (!(aboutKit && state.storageEntry() == SetupState::StorageEntry::manual))
            return {Status::error, error->text, error->details};
    }
    return {};
}

std::optional<SetupFlowPresenter::Footer> SetupFlowPresenter::footer(const SetupState &state)
{
    const bool back = state.canGoBack();
    switch (screen(state.step())) {
    case Screen::storage:
        if (StoragePresenter::face(state).body == StoragePresenter::Body::recoveryKit) {
            return Footer{StoragePresenter::openKitTitle,
                          !state.recoveryKitCode().isEmpty() && !state.recoveryKitPassphrase().isEmpty(), back,
                          PrimaryAction::applyRecoveryKit};
        }
        return Footer{StoragePresenter::testTitle, true, back, PrimaryAction::next};
    case Screen::existingPassphrase:
        // Not trimmed: a blank counts as typed and is checked against the bucket.
        return Footer{continueTitle, !state.passphrase().isEmpty(), back, PrimaryAction::next};
    case Screen::newPassphrase:
    case Screen::turnOnDrive:
        return Footer{continueTitle, true, back, PrimaryAction::next};
    case Screen::nameAndCache:
        return Footer{NameAndCachePresenter::finishTitle, true, back, PrimaryAction::next};
    case Screen::welcome:
    case Screen::recoveryKit:
    case Screen::done:
        break;
    }
    return std::nullopt;
}

QCoro::Task<> SetupFlowPresenter::runPrimary(SetupState &state, PrimaryAction action)
{
    if (action == PrimaryAction::applyRecoveryKit)
        co_await state.applyRecoveryKit(); // its result shows in the state itself
    else
        co_await state.next();
}

} // namespace CorvaneDrive
