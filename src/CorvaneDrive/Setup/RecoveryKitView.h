#pragma once

#include "CorvaneDrive/Setup/SetupScreenView.h"
#include "DriveCore/keys/SetupState.h"

#include <QPointer>

class QLabel;
class QTextEdit;

namespace CorvaneDrive {

// The new drive's Recovery Kit: the code to copy or save as a file, the storage details in
// clear, and "I've Saved It" to go on.
class RecoveryKitView : public SetupScreenView {
    Q_OBJECT
public:
    RecoveryKitView(DriveCore::SetupState &state, QString code, QWidget *parent = nullptr);

    void render() override;
    QPushButton *defaultButton() const override { return m_saved; }

    QPushButton *copyButton() const { return m_copy; }
    QPushButton *saveButton() const { return m_save; }
    QTextEdit *codeView() const { return m_codeView; }
    QLabel *loginNote() const { return m_loginNote; }
    // The storage details' values, in the rows' order.
    const QList<QLabel *> &detailValues() const { return m_values; }

    // Asks where to save the kit and writes it there; a failed write shows an alert.
    void saveKit();

private:
    QPointer<DriveCore::SetupState> m_state;
    QString m_code;
    QTextEdit *m_codeView;
    QPushButton *m_copy;
    QPushButton *m_save;
    QList<QLabel *> m_values;
    QLabel *m_loginNote;
    QPushButton *m_saved;
};

} // namespace CorvaneDrive
