#pragma once

#include "CorvaneDrive/Settings/SettingsForm.h"

class QCheckBox;
class QComboBox;
class QPushButton;

namespace CorvaneDrive {

class SettingsWindow;

// The General tab: the version and the drive's name, start at login, the way to the
// file-manager plug-in, the phone entries, the engine choice when it is switched on, and the
// way into signing out. Holds no state: it shows the window's fields and the model's.
class GeneralTab : public SettingsForm {
    Q_OBJECT
public:
    explicit GeneralTab(SettingsWindow &window, QWidget *parent = nullptr);

    // Shows the window's state and the model's values, read afresh.
    void render();

    QLabel *versionValue() const { return m_version; }
    QLabel *driveValue() const { return m_drive; }
    QCheckBox *startAtLoginSwitch() const { return m_startAtLogin; }
    QPushButton *addOnButton() const { return m_addOn; }
    QPushButton *addPhoneButton() const { return m_addPhone; }
    QCheckBox *phoneSwitch() const { return m_phoneSwitch; }
    QLabel *phoneFooter() const { return m_phoneFooter; }
    QWidget *engineSection() const { return m_engineSection; }
    QComboBox *enginePicker() const { return m_engine; }
    QPushButton *signOutButton() const { return m_signOut; }

private:
    SettingsWindow &m_window;
    QLabel *m_version;
    QLabel *m_drive;
    QCheckBox *m_startAtLogin;
    QPushButton *m_addOn;
    QPushButton *m_addPhone;
    QCheckBox *m_phoneSwitch;
    QLabel *m_phoneFooter = nullptr;
    QWidget *m_engineSection = nullptr;
    QComboBox *m_engine;
    QPushButton *m_signOut;
};

} // namespace CorvaneDrive
