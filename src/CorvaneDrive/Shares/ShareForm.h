#pragma once

#include "CorvaneDrive/Shares/ShareFormPresenter.h"
#include "DriveCore/shares/SharesModel.h"

#include <QPointer>
#include <QSpinBox>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;

// The number field of a custom download limit with its stepper: the stepper keeps to 1…10,000,
// typing does not (the share model refuses a number outside its range with its own text).
class DownloadLimitBox : public QSpinBox {
    Q_OBJECT
public:
    explicit DownloadLimitBox(QWidget *parent = nullptr);

    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override;
};

// The options of a new link and "Create Link". Starts from the defaults each time it is made;
// shows the model's blocked reason and the failure of the last attempt.
class ShareForm : public QWidget {
    Q_OBJECT
public:
    explicit ShareForm(DriveCore::SharesModel &shares, QWidget *parent = nullptr);

    // Reads the model again: the blocked reason comes from the app model, which says nothing here.
    void render();

    QComboBox *expiryPicker() const { return m_expiry; }
    QComboBox *limitPicker() const { return m_limit; }
    DownloadLimitBox *customLimitBox() const { return m_customLimit; }
    QCheckBox *passwordToggle() const { return m_usePassword; }
    QLineEdit *passwordField() const { return m_password; }
    QPushButton *createButton() const { return m_create; }

private:
    void create();

    QPointer<DriveCore::SharesModel> m_shares;
    ShareFormPresenter m_presenter;
    QLabel *m_heading;
    QFormLayout *m_options;
    QComboBox *m_expiry;
    QComboBox *m_limit;
    DownloadLimitBox *m_customLimit;
    QCheckBox *m_usePassword;
    QLineEdit *m_password;
    QLabel *m_passwordNote;
    QLabel *m_neverNote;
    QLabel *m_blocked;
    QLabel *m_failure;
    QPushButton *m_create;
};
