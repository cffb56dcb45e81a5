#include "CorvaneDrive/Setup/DoneView.h"

#include "CorvaneDrive/Setup/DonePresenter.h"
#include "CorvaneDrive/Setup/SetupFlowPresenter.h"
#include "CorvaneDrive/UiStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace CorvaneDrive {

DoneView::DoneView(DriveCore::SetupState &state, const SetupContext &context, QWidget *parent)
    : SetupScreenView(parent), m_state(&state), m_context(context)
{
    QVBoxLayout *column = startColumn(SetupFlowPresenter::screenSpacing, DonePresenter::title);
    m_text = UiStyle::wrappingLabel(QString(), this);
    column->addWidget(m_text);

    auto *row = new QHBoxLayout;
    row->addStretch(1);
    m_close = new QPushButton(DonePresenter::closeTitle, this);
    m_close->setAutoDefault(false);
    m_open = new QPushButton(DonePresenter::openTitle, this);
    row->addWidget(m_close);
    row->addWidget(m_open);
    column->addLayout(row);

    connect(m_close, &QPushButton::clicked, this, [this] { window()->close(); });
    connect(m_open, &QPushButton::clicked, this, [this] {
        // Without settings there is no mount folder, and this acts as "Close".
        if (const std::optional<QString> mount = m_context.mountPath())
            m_context.openUrl(QUrl::fromLocalFile(*mount));
        window()->close();
    });
    render();
}

void DoneView::render()
{
    if (!m_state)
        return;
    m_text->setText(DonePresenter::text(m_context.settingsDriveName(), m_state->driveName(), m_state->loginNote(),
                                        m_context.trayShown()));
}

} // namespace CorvaneDrive
