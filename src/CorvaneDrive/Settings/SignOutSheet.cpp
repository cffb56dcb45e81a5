#include "CorvaneDrive/Settings/SignOutSheet.h"

#include "CorvaneDrive/UiStyle.h"
#include "DriveCore/model/AppModel.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace CorvaneDrive {

using Button = SignOutPresenter::Button;

SignOutSheet::SignOutSheet(DriveCore::AppModel &model, QWidget *parent)
    : SettingsSheet(SignOutPresenter::title, SignOutPresenter::width, parent), m_model(&model),
      m_stepRow(new QWidget(this)), m_spinner(UiStyle::busyIndicator(m_stepRow)),
      m_step(UiStyle::wrappingLabel(QString(), m_stepRow))
{
    column()->addWidget(UiStyle::wrappingLabel(DriveCore::SignOut::confirmText, this));
    auto *step = new QHBoxLayout(m_stepRow);
    step->setContentsMargins(0, 0, 0, 0);
    step->addWidget(m_spinner, 0, Qt::AlignTop);
    step->addWidget(m_step, 1);
    column()->addWidget(m_stepRow);
    m_failure = addFailureLine();

    for (const Button kind :
         {Button::cancelSignOut, Button::cancel, Button::signOutAnyway, Button::signOut, Button::close}) {
        QPushButton *button = addButton(SignOutPresenter::buttonTitle(kind));
        button->hide();
        connect(button, &QPushButton::clicked, this, [this, kind] { pressed(kind); });
        m_buttons.append({kind, button});
    }
    // The run's steps as the model publishes them; the clearing at its end keeps the last one.
    connect(&model, &DriveCore::AppModel::signOutStepChanged, this, [this] {
        if (m_model && m_model->signOutStep()) {
            m_state.follow(*m_model->signOutStep());
            render();
        }
    });
    connect(&model, &DriveCore::AppModel::signOutDiscardedFilesChanged, this, &SignOutSheet::render);
    render();
}

QList<QPushButton *> SignOutSheet::shownButtons() const
{
    QList<QPushButton *> shown;
    for (const Button kind : m_state.buttons())
        shown << button(kind);
    return shown;
}

QPushButton *SignOutSheet::button(Button kind) const
{
    for (const auto &[each, button] : m_buttons)
        if (each == kind)
            return button;
    return nullptr;
}

void SignOutSheet::reject()
{
    // Escape and the window's close button wait for the run to end.
    if (m_state.canDismiss())
        SettingsSheet::reject();
}

void SignOutSheet::render()
{
    const std::optional<QString> step = m_state.stepText(m_model && m_model->signOutDiscardedFiles());
    m_stepRow->setVisible(step.has_value());
    m_step->setText(step.value_or(QString()));
    m_spinner->setVisible(m_state.running());
    showLine(m_failure, m_state.error());

    const QList<Button> shown = m_state.buttons();
    // The row follows the table's order: rebuild it only when the set changes.
    QHBoxLayout *row = buttonRow();
    for (const Button kind : shown) {
        QPushButton *each = button(kind);
        row->removeWidget(each);
        row->addWidget(each);
    }
    QPushButton *preferred = nullptr;
    for (const auto &[kind, each] : m_buttons) {
        const bool visible = shown.contains(kind);
        each->setVisible(visible);
        if (visible && kind == Button::close)
            preferred = each;
    }
    // "Sign Out" is destructive: Return does not press it; "Close" takes Return once signed out.
    setDefaultButton(preferred);
}

void SignOutSheet::pressed(Button kind)
{
    switch (kind) {
    case Button::cancel:
    case Button::close:
        SettingsSheet::reject();
        return;
    case Button::signOut:
        startRun(false);
        return;
    case Button::signOutAnyway:
        askForce();
        return;
    case Button::cancelSignOut:
        if (m_model)
            m_model->cancelSignOut();
        return;
    }
}

void SignOutSheet::askForce()
{
    if (m_question || !m_model)
        return;
    const SignOutPresenter::ForceQuestion question = m_state.askForce(m_model->signOutWaitingCount());
    auto *alert =
        new QMessageBox(QMessageBox::Warning, question.title(), question.title(), QMessageBox::NoButton, this);
    alert->setInformativeText(question.body());
    alert->setWindowModality(Qt::WindowModal);
    QPushButton *cancel = alert->addButton(SignOutPresenter::cancelTitle, QMessageBox::RejectRole);
    QPushButton *confirm = alert->addButton(question.confirmTitle(), QMessageBox::DestructiveRole);
    // The safe answer takes Return.
    alert->setDefaultButton(cancel);
    alert->setEscapeButton(cancel);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    connect(alert, &QMessageBox::buttonClicked, this, [this, confirm, question](QAbstractButton *clicked) {
        if (clicked == confirm)
            confirmForce(question);
    });
    m_question = alert;
    alert->open();
}

void SignOutSheet::confirmForce(const SignOutPresenter::ForceQuestion &question)
{
    switch (m_state.confirmForce(question)) {
    case SignOutPresenter::ForceAction::requestForce:
        if (m_model)
            m_model->requestForceSignOut();
        return;
    case SignOutPresenter::ForceAction::startForced:
        startRun(true);
        return;
    case SignOutPresenter::ForceAction::askAgain:
        // The question closes after this; the fitting one opens next.
        m_question.clear();
        QMetaObject::invokeMethod(this, &SignOutSheet::askForce, Qt::QueuedConnection);
        return;
    case SignOutPresenter::ForceAction::nothing:
        return;
    }
}

void SignOutSheet::startRun(bool force)
{
    if (!m_model || m_state.running())
        return;
    m_state.begin();
    render();
    running(this, m_model, force);
}

QCoro::Task<> SignOutSheet::running(QPointer<SignOutSheet> self, QPointer<DriveCore::AppModel> model, bool force)
{
    std::optional<DriveCore::SignOutStep> last;
    std::exception_ptr failure;
    try {
        if (!model)
            throw DriveCore::OwnerGone();
        last = co_await model->signOut(force);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure)
        self->m_state.fail(failure);
    else
        self->m_state.finish(last);
    self->render();
}

} // namespace CorvaneDrive
