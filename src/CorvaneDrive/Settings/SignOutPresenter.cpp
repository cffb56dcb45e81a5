#include "CorvaneDrive/Settings/SignOutPresenter.h"

namespace CorvaneDrive {

using DriveCore::SignOut;

namespace {

// The force question that a step of a run under way offers, if any.
std::optional<SignOutPresenter::ForceKind> forceKind(const std::optional<DriveCore::SignOutStep> &step)
{
    if (!step)
        return std::nullopt;
    if (step->kind == DriveCore::SignOutStep::waitingForUploads)
        return SignOutPresenter::ForceKind::uploads;
    if (step->kind == DriveCore::SignOutStep::finishingDeletes)
        return SignOutPresenter::ForceKind::deletes;
    return std::nullopt;
}

} // namespace

QString SignOutPresenter::ForceQuestion::title() const
{
    return kind == ForceKind::deletes ? SignOut::forceDeletesTitle : SignOut::forceTitle(count);
}

QString SignOutPresenter::ForceQuestion::body() const
{
    return kind == ForceKind::deletes ? SignOut::forceDeletesBody : SignOut::forceBody;
}

QString SignOutPresenter::ForceQuestion::confirmTitle() const
{
    return kind == ForceKind::deletes ? SignOut::forceButton : SignOut::forceConfirmButton;
}

QString SignOutPresenter::buttonTitle(Button button)
{
    switch (button) {
    case Button::cancel:
        return cancelTitle;
    case Button::close:
        return closeTitle;
    case Button::signOut:
        return signOutTitle;
    case Button::signOutAnyway:
        return SignOut::forceButton;
    case Button::cancelSignOut:
        break;
    }
    return cancelSignOutTitle;
}

std::optional<QString> SignOutPresenter::stepText(bool discardedFiles) const
{
    if (!m_lastStep)
        return std::nullopt;
    return m_lastStep->text(m_lastStep->kind == SignOutStep::done && discardedFiles);
}

QList<SignOutPresenter::Button> SignOutPresenter::buttons() const
{
    if (m_running) {
        if (forceKind(m_lastStep))
            return {Button::cancelSignOut, Button::signOutAnyway};
        return {};
    }
    if (m_lastStep && m_lastStep->kind == SignOutStep::done)
        return {Button::close};
    if (m_foundUnuploaded)
        return {Button::cancel, Button::signOutAnyway, Button::signOut};
    return {Button::cancel, Button::signOut};
}

int SignOutPresenter::begin()
{
    m_running = true;
    m_error.reset();
    m_foundUnuploaded = false;
    return ++m_run;
}

void SignOutPresenter::follow(const SignOutStep &step)
{
    m_lastStep = step;
}

void SignOutPresenter::finish(const std::optional<SignOutStep> &step)
{
    if (step)
        m_lastStep = step;
    m_running = false;
}

void SignOutPresenter::fail(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const SignOut::UnuploadedFiles &refusal) {
        m_lastStep.reset();
        m_foundUnuploaded = true;
        m_error = refusal.message;
    } catch (const std::exception &other) {
        m_error = SignOut::failureText(other);
    } catch (...) {
        m_error = SignOut::failureText(std::runtime_error("Something went wrong"));
    }
    m_running = false;
}

SignOutPresenter::ForceQuestion SignOutPresenter::askForce(std::optional<qint64> waitingCount) const
{
    const bool deletes = m_running && forceKind(m_lastStep) == ForceKind::deletes;
    return {.run = m_run,
            .running = m_running,
            .kind = deletes ? ForceKind::deletes : ForceKind::uploads,
            .count = waitingCount};
}

SignOutPresenter::ForceAction SignOutPresenter::confirmForce(const ForceQuestion &question) const
{
    if (question.run == m_run && question.running == m_running) {
        if (m_running && forceKind(m_lastStep) == question.kind)
            return ForceAction::requestForce;
        if (!m_running && m_foundUnuploaded)
            return ForceAction::startForced;
    }
    return forceOffered() ? ForceAction::askAgain : ForceAction::nothing;
}

bool SignOutPresenter::forceOffered() const
{
    return m_running ? forceKind(m_lastStep).has_value() : m_foundUnuploaded;
}

} // namespace CorvaneDrive
