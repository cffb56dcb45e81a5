#include "CorvaneDrive/Setup/SetupWindow.h"

#include "CorvaneDrive/Setup/DoneView.h"
#include "CorvaneDrive/Setup/NameAndCacheView.h"
#include "CorvaneDrive/Setup/PassphraseView.h"
#include "CorvaneDrive/Setup/RecoveryKitView.h"
#include "CorvaneDrive/Setup/SetupStatusArea.h"
#include "CorvaneDrive/Setup/StorageView.h"
#include "CorvaneDrive/Setup/TurnOnDriveView.h"
#include "CorvaneDrive/Setup/WelcomeView.h"
#include "CorvaneDrive/UiStyle.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace CorvaneDrive {

using DriveCore::SetupState;
using Screen = SetupFlowPresenter::Screen;

namespace {

QWidget *initialFocus(SetupScreenView *screen)
{
    if (QWidget *field = screen->firstField())
        return field;
    return screen->defaultButton();
}

} // namespace

SetupWindow::SetupWindow(SetupContext context, QWidget *parent)
    : QWidget(parent), m_context(std::move(context)), m_waiting(new QProgressBar(this)), m_content(new QWidget(this)),
      m_contentColumn(new QVBoxLayout(m_content)), m_status(new SetupStatusArea(m_content))
{
    setWindowTitle(SetupFlowPresenter::windowTitle);
    auto *frame = new QVBoxLayout(this);
    const int margin = SetupFlowPresenter::margin;
    frame->setContentsMargins(margin, margin, margin, margin);
    frame->setSpacing(0);
    m_waiting->setRange(0, 0);
    m_waiting->setTextVisible(false);
    frame->addWidget(m_waiting);
    frame->addWidget(m_content);
    m_contentColumn->setContentsMargins(0, 0, 0, 0);
    m_contentColumn->setSpacing(SetupFlowPresenter::routerSpacing);
    m_contentColumn->addWidget(m_status);
    m_content->hide();
    fitToContent();
}

SetupWindow::~SetupWindow() = default;

std::optional<Screen> SetupWindow::shownScreen() const
{
    if (!m_shownStep)
        return std::nullopt;
    return SetupFlowPresenter::screen(*m_shownStep);
}

void SetupWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // A spontaneous show is the desktop restoring a minimised window: the screen stays as it was.
    if (!event->spontaneous() && SetupFlowPresenter::needsFreshState(m_setup.get()))
        startFresh();
}

bool SetupWindow::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    // A control shown or hidden inside a screen (the error's details, "Copy") asks for a new
    // layout; the window's height follows.
    if (event->type() == QEvent::LayoutRequest)
        fitToContent();
    return handled;
}

bool SetupWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Some desktops' themes let Return press a check box or radio button: here it goes to the
    // window, whose default button takes it.
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            && !(key->modifiers() & ~Qt::KeypadModifier)) {
            QKeyEvent copy(QEvent::KeyPress, key->key(), key->modifiers(), key->text());
            QCoreApplication::sendEvent(this, &copy);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SetupWindow::startFresh()
{
    // The screen of the old assistant goes first, then the assistant itself (its running work
    // ends without touching anything).
    dropScreen();
    m_shownStep.reset();
    m_setup = m_context.makeSetupState();
    m_showPassphrase = false;
    m_busy = false;
    connect(m_setup.get(), &SetupState::changed, this, &SetupWindow::render);
    m_waiting->hide();
    m_content->show();
    render();
}

void SetupWindow::render()
{
    if (!m_setup)
        return;
    if (m_shownStep != m_setup->step())
        showScreen();
    else
        m_screen->render();
    const SetupFlowPresenter::Status status = SetupFlowPresenter::status(*m_setup);
    m_status->render(status);
    // A screen reader reads the error with the field it is about.
    QWidget *field = status.kind == SetupFlowPresenter::Status::error ? m_screen->fieldForError(status.text) : nullptr;
    if (m_describedField && m_describedField != field)
        m_describedField->setAccessibleDescription(QString());
    if (field)
        field->setAccessibleDescription(status.text);
    m_describedField = field;

    // The status area has nothing to press while busy: disabling the screen stops every input.
    const bool busy = m_setup->isBusy();
    if (busy && !m_busy) {
        m_focusBeforeBusy = focusWidget();
        m_screen->setEnabled(false);
    } else if (!busy && m_busy) {
        m_screen->setEnabled(true);
        QWidget *target = m_focusBeforeBusy && m_screen->isAncestorOf(m_focusBeforeBusy) ? m_focusBeforeBusy.data()
                                                                                         : initialFocus(m_screen);
        if (target)
            target->setFocus();
    }
    m_busy = busy;
    fitToContent();
}

void SetupWindow::dropScreen()
{
    if (!m_screen)
        return;
    // Hidden at once (which ends its own work); deleted once any signal of its own is over.
    m_screen->hide();
    m_contentColumn->removeWidget(m_screen);
    m_screen->deleteLater();
    m_screen = nullptr;
}

void SetupWindow::showScreen()
{
    dropScreen();
    SetupState &state = *m_setup;
    const DriveCore::SetupStep step = state.step();
    switch (SetupFlowPresenter::screen(step)) {
    case Screen::welcome:
        m_screen = new WelcomeView(state, m_content);
        break;
    case Screen::storage:
        m_screen = new StorageView(state, m_context, m_content);
        break;
    case Screen::newPassphrase:
        m_screen = new PassphraseView(state, false, m_showPassphrase, m_content);
        break;
    case Screen::existingPassphrase:
        m_screen = new PassphraseView(state, true, m_showPassphrase, m_content);
        break;
    case Screen::turnOnDrive:
        m_screen = new TurnOnDriveView(state, m_context, m_content);
        break;
    case Screen::nameAndCache:
        m_screen = new NameAndCacheView(state, m_content);
        break;
    case Screen::recoveryKit:
        m_screen = new RecoveryKitView(state, step.code, m_content);
        break;
    case Screen::done:
        m_screen = new DoneView(state, m_context, m_content);
        break;
    }
    m_shownStep = step;
    m_contentColumn->insertWidget(0, m_screen);
    m_screen->setEnabled(!state.isBusy());
    m_screen->show();
    for (QAbstractButton *button : m_screen->findChildren<QAbstractButton *>())
        if (!qobject_cast<QPushButton *>(button))
            button->installEventFilter(this);
    UiStyle::setDefaultButton(this, m_screen->defaultButton());
    if (QWidget *focus = initialFocus(m_screen))
        focus->setFocus();
}

void SetupWindow::fitToContent()
{
    QLayout *frame = layout();
    frame->activate();
    const int width = SetupFlowPresenter::windowWidth;
    const int height = frame->hasHeightForWidth() ? frame->totalHeightForWidth(width) : frame->totalSizeHint().height();
    if (minimumSize() != QSize(width, height) || maximumSize() != QSize(width, height))
        setFixedSize(width, height);
}

} // namespace CorvaneDrive
