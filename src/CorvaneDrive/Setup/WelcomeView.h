#pragma once

#include "CorvaneDrive/Setup/SetupScreenView.h"
#include "DriveCore/keys/SetupState.h"

#include <QPointer>

namespace CorvaneDrive {

// The welcome screen: a new drive or an existing one.
class WelcomeView : public SetupScreenView {
    Q_OBJECT
public:
    explicit WelcomeView(DriveCore::SetupState &state, QWidget *parent = nullptr);

    void render() override {}
    QPushButton *defaultButton() const override { return m_newDrive; }

    QPushButton *existingDriveButton() const { return m_existingDrive; }

private:
    QPointer<DriveCore::SetupState> m_state;
    QPushButton *m_existingDrive;
    QPushButton *m_newDrive;
};

} // namespace CorvaneDrive
