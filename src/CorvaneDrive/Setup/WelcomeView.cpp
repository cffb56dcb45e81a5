#include "CorvaneDrive/Setup/WelcomeView.h"

#include "CorvaneDrive/Setup/SetupFlowPresenter.h"
#include "CorvaneDrive/Setup/WelcomePresenter.h"
#include "CorvaneDrive/UiStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace CorvaneDrive {

WelcomeView::WelcomeView(DriveCore::SetupState &state, QWidget *parent)
    : SetupScreenView(parent), m_state(&state),
      m_existingDrive(new QPushButton(WelcomePresenter::existingDriveTitle, this)),
      m_newDrive(new QPushButton(WelcomePresenter::newDriveTitle, this))
{
    QVBoxLayout *column = startColumn(SetupFlowPresenter::welcomeSpacing, WelcomePresenter::title);
    auto *tagline = new QLabel(WelcomePresenter::tagline, this);
    UiStyle::headline(tagline);
    UiStyle::secondary(tagline);
    column->addWidget(tagline);
    column->addWidget(UiStyle::wrappingLabel(WelcomePresenter::body, this));

    auto *row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(m_existingDrive);
    row->addWidget(m_newDrive);
    column->addLayout(row);

    connect(m_existingDrive, &QPushButton::clicked, this, [this] {
        if (m_state)
            m_state->chooseExistingDrive();
    });
    connect(m_newDrive, &QPushButton::clicked, this, [this] {
        if (m_state)
            m_state->chooseNewDrive();
    });
}

} // namespace CorvaneDrive
