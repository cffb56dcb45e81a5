#pragma once

#include "CorvaneDrive/Setup/SetupScreenView.h"
#include "DriveCore/keys/SetupState.h"

#include <QPointer>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace CorvaneDrive {

class SetupFooter;

// The passphrase screens: create one for a new drive (typed twice, or generated, with the box
// to tick), or type the one that opens an existing drive.
class PassphraseView : public SetupScreenView {
    Q_OBJECT
public:
    // `showPassphrase` belongs to the window, so it outlives moves between steps.
    PassphraseView(DriveCore::SetupState &state, bool existing, bool &showPassphrase, QWidget *parent = nullptr);

    void render() override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    QPushButton *defaultButton() const override;
    QWidget *firstField() const override;
    QWidget *fieldForError(const QString &error) const override;

    QLineEdit *passphraseField() const { return m_passphrase; }
    QLineEdit *confirmField() const { return m_confirm; } // new drive only
    QPushButton *generateButton() const { return m_generate; }
    QCheckBox *showToggle() const { return m_show; }
    QPushButton *copyButton() const { return m_copy; }
    QCheckBox *acknowledgedToggle() const { return m_acknowledged; }
    QLabel *acknowledgedLabel() const { return m_acknowledgedLabel; } // the box's text, which wraps
    SetupFooter *footer() const { return m_footer; }

private:
    QPointer<DriveCore::SetupState> m_state;
    bool m_existing;
    bool &m_showPassphrase;
    QLineEdit *m_passphrase = nullptr;
    QLineEdit *m_confirm = nullptr;
    QPushButton *m_generate = nullptr;
    QCheckBox *m_show = nullptr;
    QPushButton *m_copy = nullptr;
    QCheckBox *m_acknowledged = nullptr;
    QLabel *m_acknowledgedLabel = nullptr;
    SetupFooter *m_footer = nullptr;
};

} // namespace CorvaneDrive
