#pragma once

#include "CorvaneDrive/Setup/SetupContext.h"
#include "CorvaneDrive/Setup/SetupScreenView.h"

#include <QPointer>

class QLabel;

namespace CorvaneDrive {

// The last screen: the drive is ready; open it in the file manager or close the window.
class DoneView : public SetupScreenView {
    Q_OBJECT
public:
    DoneView(DriveCore::SetupState &state, const SetupContext &context, QWidget *parent = nullptr);

    void render() override;
    QPushButton *defaultButton() const override { return m_open; }

    QPushButton *closeButton() const { return m_close; }
    QLabel *textLabel() const { return m_text; }

private:
    QPointer<DriveCore::SetupState> m_state;
    SetupContext m_context;
    QLabel *m_text;
    QPushButton *m_close;
    QPushButton *m_open;
};

} // namespace CorvaneDrive
