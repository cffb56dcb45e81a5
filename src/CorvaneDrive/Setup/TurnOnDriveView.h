#pragma once

#include "CorvaneDrive/Setup/SetupContext.h"
#include "CorvaneDrive/Setup/SetupScreenView.h"
#include "DriveCore/support/Tasks.h"

#include <QPointer>

namespace CorvaneDrive {

class SetupFooter;

// Waits for the file-system layer: what to do, a button to the help page on it, and a check
// every 2 s for as long as the screen is shown, moving on by itself once the layer is usable.
class TurnOnDriveView : public SetupScreenView {
    Q_OBJECT
public:
    TurnOnDriveView(DriveCore::SetupState &state, const SetupContext &context, QWidget *parent = nullptr);

    void render() override;
    QPushButton *defaultButton() const override;

    QPushButton *openSettingsButton() const { return m_openSettings; }
    SetupFooter *footer() const { return m_footer; }
    bool isPolling() const { return m_poll.isStarted() && !m_poll.isFinished(); }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QPointer<DriveCore::SetupState> m_state;
    SetupContext m_context;
    QPushButton *m_openSettings;
    SetupFooter *m_footer;
    DriveCore::TaskHandle<> m_poll;
};

} // namespace CorvaneDrive
