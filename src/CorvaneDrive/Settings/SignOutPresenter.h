#pragma once

#include "DriveCore/keys/SignOut.h"

#include <QList>
#include <QString>

#include <exception>
#include <optional>

namespace CorvaneDrive {

// The sign-out sheet's state and rules: which run it started and how that run ended, the step
// line, the buttons, and the "Sign Out Anyway" question. Toolkit-free; the sheet renders it and
// carries out what it decides on the model.
class SignOutPresenter {
public:
    using SignOutStep = DriveCore::SignOutStep;

    enum class Button {
        cancel, // "Cancel": closes the sheet (Escape)
        close, // "Close" once signed out (Return)
        signOut, // "Sign Out", destructive
        signOutAnyway, // asks the force question
        cancelSignOut, // stops the run under way
    };

    // What the force question is about.
    enum class ForceKind { uploads, deletes };

    // The force question as it was asked: for which run and about what.
    struct ForceQuestion {
        int run = 0; // the run it was asked for
        bool running = false; // asked while that run was under way, or after it was refused
        ForceKind kind = ForceKind::uploads;
        std::optional<qint64> count; // files the run waited for, when known

        QString title() const;
        QString body() const;
        QString confirmTitle() const;
        bool operator==(const ForceQuestion &) const = default;
    };

    // What confirming the question does now.
    enum class ForceAction {
        requestForce, // the run it was asked for goes on as forced
        startForced, // a forced run starts
        askAgain, // the situation changed: ask the question that fits now
        nothing, // nothing to force any more
    };

    static inline const QString title = QStringLiteral("Sign Out of This Computer");
    static inline const QString cancelTitle = QStringLiteral("Cancel");
    static inline const QString closeTitle = QStringLiteral("Close");
    static inline const QString signOutTitle = QStringLiteral("Sign Out");
    static inline const QString cancelSignOutTitle = QStringLiteral("Cancel Sign Out");
    static constexpr int width = 420;

    static QString buttonTitle(Button button);

    bool running() const { return m_running; }
    const std::optional<SignOutStep> &lastStep() const { return m_lastStep; }
    const std::optional<QString> &error() const { return m_error; }
    bool foundUnuploaded() const { return m_foundUnuploaded; }
    int run() const { return m_run; }

    // The step line under the confirmation text, or none.
    std::optional<QString> stepText(bool discardedFiles) const;
    QList<Button> buttons() const;
    // Escape and the window's close button work only while no run is under way.
    bool canDismiss() const { return !m_running; }

    // A run starts: its number.
    int begin();
    // The model published a step (its clearing at the end is not passed on).
    void follow(const SignOutStep &step);
    // The run returned: its last step, or none when the model started nothing.
    void finish(const std::optional<SignOutStep> &step);
    // The run threw.
    void fail(const std::exception_ptr &error);

    // The question "Sign Out Anyway" asks now, with the count the model knows.
    ForceQuestion askForce(std::optional<qint64> waitingCount) const;
    // Confirming a question is acted on only while the run and the kind it was asked about
    // still hold; a question about a run that has since ended or moved on is asked again when
    // forcing is still offered, and dropped otherwise.
    ForceAction confirmForce(const ForceQuestion &question) const;

private:
    bool forceOffered() const;

    bool m_running = false;
    std::optional<SignOutStep> m_lastStep;
    std::optional<QString> m_error;
    bool m_foundUnuploaded = false;
    int m_run = 0;
};

} // namespace CorvaneDrive
