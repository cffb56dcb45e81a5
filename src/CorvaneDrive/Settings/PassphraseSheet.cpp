#include "CorvaneDrive/Settings/PassphraseSheet.h"

#include "CorvaneDrive/Settings/SettingsPresenter.h"
#include "CorvaneDrive/UiStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace CorvaneDrive {

void PassphraseSheetPresenter::succeeded()
{
    passphrase.clear();
    working = false;
}

void PassphraseSheetPresenter::failed(const std::exception_ptr &failure)
{
    error = SettingsPresenter::failureText(failure);
    working = false;
}

PassphraseSheet::PassphraseSheet(const QString &title, const QStringList &prompts, const QString &confirmTitle,
                                 Action action, QWidget *parent)
    : SettingsSheet(title, PassphraseSheetPresenter::width, parent), m_action(std::move(action)),
      m_asking(new QWidget(this)), m_field(new QLineEdit(m_asking))
{
    auto *asking = new QVBoxLayout(m_asking);
    asking->setContentsMargins(0, 0, 0, 0);
    asking->setSpacing(spacing);
    for (const QString &prompt : prompts)
        asking->addWidget(UiStyle::wrappingLabel(prompt, m_asking));
    m_field->setEchoMode(QLineEdit::Password);
    m_field->setPlaceholderText(PassphraseSheetPresenter::placeholder);
    m_field->setAccessibleName(PassphraseSheetPresenter::placeholder);
    asking->addWidget(m_field);
    column()->addWidget(m_asking);
    m_failure = addFailureLine();

    m_indicator = UiStyle::busyIndicator(this);
    buttonRow()->addWidget(m_indicator);
    m_cancel = addButton(SettingsPresenter::cancelTitle);
    m_confirm = addButton(confirmTitle);
    setDefaultButton(m_confirm);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_confirm, &QPushButton::clicked, this, &PassphraseSheet::confirm);
    connect(m_field, &QLineEdit::textEdited, this, [this](const QString &text) {
        m_state.passphrase = text;
        render();
    });
    render();
}

void PassphraseSheet::showEvent(QShowEvent *event)
{
    SettingsSheet::showEvent(event);
    if (m_field->isVisibleTo(this))
        m_field->setFocus();
}

void PassphraseSheet::reject()
{
    // Escape and the window's close button wait for the action, as Cancel does.
    if (!m_state.working)
        SettingsSheet::reject();
}

void PassphraseSheet::leaveAsking()
{
    m_asking->hide();
    m_failure->hide();
    m_indicator->hide();
    m_cancel->hide();
    m_confirm->hide();
}

void PassphraseSheet::confirm()
{
    if (!m_state.canConfirm())
        return;
    m_state.working = true;
    render();
    run(this, m_action, m_state.passphrase);
}

QCoro::Task<> PassphraseSheet::run(QPointer<PassphraseSheet> self, Action action, QString passphrase)
{
    QString result;
    std::exception_ptr failure;
    try {
        result = co_await action(std::move(passphrase));
    } catch (...) {
        failure = std::current_exception();
    }
    // A sheet closed meanwhile shows nothing more.
    if (!self)
        co_return;
    if (failure) {
        self->m_state.failed(failure);
        self->render();
        self->m_field->setFocus();
        co_return;
    }
    self->m_state.succeeded();
    self->m_field->clear();
    self->render();
    self->succeeded(result);
}

void PassphraseSheet::render()
{
    if (m_field->text() != m_state.passphrase)
        m_field->setText(m_state.passphrase);
    m_field->setEnabled(!m_state.working);
    // The action runs on to its end once started (it may turn something on): the sheet stays.
    m_cancel->setEnabled(!m_state.working);
    m_confirm->setEnabled(m_state.canConfirm());
    if (m_asking->isVisibleTo(this)) {
        showLine(m_failure, m_state.error);
        m_indicator->setVisible(m_state.working);
    }
}

} // namespace CorvaneDrive
