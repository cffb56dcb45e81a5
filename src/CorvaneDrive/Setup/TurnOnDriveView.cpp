#include "CorvaneDrive/Setup/TurnOnDriveView.h"

#include "CorvaneDrive/Setup/SetupFlowPresenter.h"
#include "CorvaneDrive/Setup/SetupFooter.h"
#include "CorvaneDrive/Setup/TurnOnDrivePresenter.h"
#include "CorvaneDrive/UiStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace CorvaneDrive {

TurnOnDriveView::TurnOnDriveView(DriveCore::SetupState &state, const SetupContext &context, QWidget *parent)
    : SetupScreenView(parent), m_state(&state), m_context(context),
      m_openSettings(new QPushButton(TurnOnDrivePresenter::openSettingsTitle, this))
{
    QVBoxLayout *column = startColumn(SetupFlowPresenter::screenSpacing, TurnOnDrivePresenter::title);
    column->addWidget(UiStyle::wrappingLabel(TurnOnDrivePresenter::intro, this));

    auto *steps = new QVBoxLayout;
    steps->setSpacing(6);
    for (const QString &step : TurnOnDrivePresenter::steps) {
        QLabel *line = UiStyle::wrappingLabel(QString(), this);
        line->setTextFormat(Qt::RichText);
        line->setText(TurnOnDrivePresenter::emphasised(step));
        steps->addWidget(line);
    }
    column->addLayout(steps);

    QLabel *note = UiStyle::wrappingLabel(TurnOnDrivePresenter::note, this);
    UiStyle::callout(note);
    UiStyle::secondary(note);
    column->addWidget(note);

    auto *row = new QHBoxLayout;
    m_openSettings->setAutoDefault(false);
    row->addWidget(m_openSettings);
    row->addStretch(1);
    column->addLayout(row);
    connect(m_openSettings, &QPushButton::clicked, this, [this] { m_context.openUrl(m_context.fileSystemHelp); });

    m_footer = new SetupFooter(state, this);
    column->addWidget(m_footer);
    render();
}

void TurnOnDriveView::render() { m_footer->render(); }

QPushButton *TurnOnDriveView::defaultButton() const { return m_footer->primaryButton(); }

void TurnOnDriveView::showEvent(QShowEvent *event)
{
    SetupScreenView::showEvent(event);
    // From the event loop: the screen appears inside the change that brought it, while the step
    // that led here still holds its progress text, and a check now would be skipped.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!isVisible() || isPolling())
                return;
            m_poll = DriveCore::TaskHandle<>::start(
                [state = m_state, sleep = m_context.sleep](DriveCore::CancelToken token) {
                    return TurnOnDrivePresenter::poll(state, sleep, token);
                });
        },
        Qt::QueuedConnection);
}

void TurnOnDriveView::hideEvent(QHideEvent *event)
{
    SetupScreenView::hideEvent(event);
    // A closed window leaves nothing running; showing it again starts a new round at once.
    m_poll = {};
}

} // namespace CorvaneDrive
