#pragma once

#include "DriveCore/keys/SetupState.h"

#include <QPointer>
#include <QWidget>

class QPushButton;

namespace CorvaneDrive {

// The bottom row of the setup screens that ask for input: "Back" on the left while the
// assistant allows it, the step's primary button on the right.
class SetupFooter : public QWidget {
    Q_OBJECT
public:
    explicit SetupFooter(DriveCore::SetupState &state, QWidget *parent = nullptr);

    void render();
    QPushButton *primaryButton() const { return m_primary; }
    QPushButton *backButton() const { return m_back; }

private:
    QPointer<DriveCore::SetupState> m_state;
    QPushButton *m_back;
    QPushButton *m_primary;
};

} // namespace CorvaneDrive
