#include "CorvaneDrive/Setup/SetupFooter.h"

#include "CorvaneDrive/Setup/SetupFlowPresenter.h"

#include <QHBoxLayout>
#include <QPushButton>

namespace CorvaneDrive {

SetupFooter::SetupFooter(DriveCore::SetupState &state, QWidget *parent)
    : QWidget(parent), m_state(&state), m_back(new QPushButton(SetupFlowPresenter::backTitle, this)),
      m_primary(new QPushButton(this))
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_back);
    row->addStretch(1);
    row->addWidget(m_primary);
    m_back->setAutoDefault(false);

    connect(m_back, &QPushButton::clicked, this, [this] {
        if (m_state)
            m_state->back();
    });
    connect(m_primary, &QPushButton::clicked, this, [this] {
        if (!m_state)
            return;
        const std::optional<SetupFlowPresenter::Footer> footer = SetupFlowPresenter::footer(*m_state);
        // The task runs on with the assistant after this row is gone.
        if (footer && footer->enabled)
            SetupFlowPresenter::runPrimary(*m_state, footer->action);
    });
    render();
}

void SetupFooter::render()
{
    if (!m_state)
        return;
    const std::optional<SetupFlowPresenter::Footer> footer = SetupFlowPresenter::footer(*m_state);
    if (!footer) {
        hide();
        return;
    }
    m_back->setVisible(footer->showsBack);
    m_primary->setText(footer->primary);
    m_primary->setEnabled(footer->enabled);
}

} // namespace CorvaneDrive
