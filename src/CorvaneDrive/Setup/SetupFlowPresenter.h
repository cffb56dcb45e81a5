#pragma once

#include "DriveCore/keys/SetupState.h"

#include <QCoroTask>
#include <QString>

#include <optional>

namespace CorvaneDrive {

// What the setup window shows around its screens: which screen a step gets, the status area
// under it and the bottom button row most screens end with. Toolkit-free; the window renders it.
class SetupFlowPresenter {
public:
    enum class Screen {
        welcome,
        storage, // both roads; the step's `existing` picks the body
        newPassphrase,
        existingPassphrase,
        turnOnDrive,
        nameAndCache,
        recoveryKit,
        done,
    };

    // The status area: the progress text, else the error, else nothing.
    struct Status {
        enum Kind { none, busy, error };
        Kind kind = none;
        QString text;
        std::optional<QString> details; // only with an error

        bool operator==(const Status &) const = default;
    };

    // What the primary button of the bottom row awaits.
    enum class PrimaryAction { next, applyRecoveryKit };

    // The bottom row: "Back" on the left when it may be pressed, the primary button on the right.
    struct Footer {
        QString primary;
        bool enabled = true;
        bool showsBack = false;
        PrimaryAction action = PrimaryAction::next;

        bool operator==(const Footer &) const = default;
    };

    static inline const QString windowTitle = QStringLiteral("Set up Ovra");
    static inline const QString backTitle = QStringLiteral("Back");
    static inline const QString detailsTitle = QStringLiteral("Details");
    static inline const QString continueTitle = QStringLiteral("Continue");

    // Layout in device-independent pixels.
    static constexpr int margin = 24;
    static constexpr int windowWidth = 540; // margins included
    static constexpr int routerSpacing = 14; // between the screen and the status area
    static constexpr int welcomeSpacing = 14;
    static constexpr int screenSpacing = 12;
    static constexpr int statusSpacing = 4;

    static Screen screen(const DriveCore::SetupStep &step);
    // Whether the window needs a new assistant when it is shown: it has none, or its assistant
    // has finished. One part-way through stays, so the user goes on where they left off.
    static bool needsFreshState(const DriveCore::SetupState *state);
    // The busy row wins over an error still set while a step runs.
    static Status status(const DriveCore::SetupState &state);
    // None on the screens with rows of their own (welcome, Recovery Kit, done).
    static std::optional<Footer> footer(const DriveCore::SetupState &state);
    // Runs the footer's primary action on the assistant.
    static QCoro::Task<> runPrimary(DriveCore::SetupState &state, PrimaryAction action);
};

} // namespace CorvaneDrive
