#include "CorvaneDrive/Setup/PassphraseView.h"

#include "CorvaneDrive/Binding.h"
#include "CorvaneDrive/Setup/PassphrasePresenter.h"
#include "CorvaneDrive/Setup/SetupFlowPresenter.h"
#include "CorvaneDrive/Setup/SetupFooter.h"
#include "CorvaneDrive/UiStyle.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

namespace CorvaneDrive {

using DriveCore::SetupState;

PassphraseView::PassphraseView(SetupState &state, bool existing, bool &showPassphrase, QWidget *parent)
    : SetupScreenView(parent), m_state(&state), m_existing(existing), m_showPassphrase(showPassphrase)
{
    QVBoxLayout *column = startColumn(SetupFlowPresenter::screenSpacing,
                                      existing ? PassphrasePresenter::existingTitle : PassphrasePresenter::newTitle);
    column->addWidget(
        UiStyle::wrappingLabel(existing ? PassphrasePresenter::existingIntro : PassphrasePresenter::newIntro(), this));

    m_passphrase = new QLineEdit(this);
    m_passphrase->setPlaceholderText(PassphrasePresenter::passphrasePlaceholder);
    // The placeholder goes as soon as something is typed; the name stays.
    m_passphrase->setAccessibleName(PassphrasePresenter::passphrasePlaceholder);
    column->addWidget(m_passphrase);
    connect(m_passphrase, &QLineEdit::textEdited, this, [this](const QString &text) {
        if (m_state)
            m_state->setPassphrase(text);
    });

    if (existing) {
        m_passphrase->setEchoMode(QLineEdit::Password);
    } else {
        UiStyle::monospaced(m_passphrase);
        m_confirm = new QLineEdit(this);
        m_confirm->setPlaceholderText(PassphrasePresenter::confirmPlaceholder);
        m_confirm->setAccessibleName(PassphrasePresenter::confirmPlaceholder);
        UiStyle::monospaced(m_confirm);
        column->addWidget(m_confirm);
        connect(m_confirm, &QLineEdit::textEdited, this, [this](const QString &text) {
            if (m_state)
                m_state->setConfirmPassphrase(text);
        });

        auto *row = new QHBoxLayout;
        m_generate = new QPushButton(PassphrasePresenter::generateTitle, this);
        m_show = new QCheckBox(PassphrasePresenter::showTitle, this);
        m_copy = new QPushButton(PassphrasePresenter::copyTitle, this);
        m_generate->setAutoDefault(false);
        m_copy->setAutoDefault(false);
        row->addWidget(m_generate);
        row->addWidget(m_show);
        row->addStretch(1);
        row->addWidget(m_copy);
        column->addLayout(row);
        connect(m_generate, &QPushButton::clicked, this, [this] {
            if (!m_state)
                return;
            m_state->generate();
            // Shown, so that it can be read and written down.
            m_showPassphrase = true;
            render();
        });
        connect(m_show, &QCheckBox::toggled, this, [this](bool on) {
            m_showPassphrase = on;
            render();
        });
        connect(m_copy, &QPushButton::clicked, this, [this] {
            if (m_state)
                QGuiApplication::clipboard()->setText(m_state->passphrase());
        });

        QLabel *writeItDown = UiStyle::wrappingLabel(PassphrasePresenter::writeItDownText, this);
        UiStyle::secondary(writeItDown);
        column->addWidget(writeItDown);

        // A check box's own text cannot wrap: the sentence is a label beside the box, and a
        // click on it ticks the box as a click on the box's text would.
        auto *tick = new QHBoxLayout;
        m_acknowledged = new QCheckBox(this);
        m_acknowledged->setAccessibleName(SetupState::mustTickText);
        m_acknowledgedLabel = UiStyle::wrappingLabel(SetupState::mustTickText, this);
        UiStyle::headline(m_acknowledgedLabel);
        m_acknowledgedLabel->setBuddy(m_acknowledged);
        m_acknowledgedLabel->installEventFilter(this);
        tick->addWidget(m_acknowledged, 0, Qt::AlignTop);
        tick->addWidget(m_acknowledgedLabel, 1);
        column->addLayout(tick);
        connect(m_acknowledged, &QCheckBox::toggled, this, [this](bool on) {
            if (m_state)
                m_state->setAcknowledged(on);
        });
    }

    m_footer = new SetupFooter(state, this);
    column->addWidget(m_footer);
    render();
}

void PassphraseView::render()
{
    if (!m_state)
        return;
    const SetupState &state = *m_state;
    Binding::show(m_passphrase, state.passphrase());
    if (!m_existing) {
        const QLineEdit::EchoMode mode = m_showPassphrase ? QLineEdit::Normal : QLineEdit::Password;
        m_passphrase->setEchoMode(mode);
        m_confirm->setEchoMode(mode);
        Binding::show(m_confirm, state.confirmPassphrase());
        Binding::show(m_show, m_showPassphrase);
        m_copy->setVisible(PassphrasePresenter::showsCopy(state, m_showPassphrase));
        Binding::show(m_acknowledged, state.acknowledged());
    }
    m_footer->render();
}

bool PassphraseView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_acknowledgedLabel && event->type() == QEvent::MouseButtonRelease && m_acknowledged->isEnabled()
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton
        && m_acknowledgedLabel->rect().contains(static_cast<QMouseEvent *>(event)->position().toPoint())) {
        m_acknowledged->setFocus(Qt::MouseFocusReason);
        m_acknowledged->click();
        return true;
    }
    return SetupScreenView::eventFilter(watched, event);
}

QWidget *PassphraseView::fieldForError(const QString &error) const
{
    if (error == SetupState::shortPassphraseText || error == SetupState::wrongPassphraseText
        || error == SetupState::missingPassphraseText)
        return m_passphrase;
    if (error == SetupState::mismatchText)
        return m_confirm;
    if (error == SetupState::mustTickMissingText)
        return m_acknowledged;
    return nullptr;
}

QPushButton *PassphraseView::defaultButton() const
{
    return m_footer->primaryButton();
}

QWidget *PassphraseView::firstField() const
{
    return m_passphrase;
}

} // namespace CorvaneDrive
