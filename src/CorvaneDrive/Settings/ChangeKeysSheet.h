#pragma once

#include "CorvaneDrive/Settings/ChangeKeysPresenter.h"
#include "CorvaneDrive/Settings/SettingsSheet.h"
#include "DriveCore/platform/HTTPSend.h"

#include "DriveCore/model/AppModel.h"

#include <QCoroTask>
#include <QPointer>

class QLineEdit;
class QProgressBar;
class QRadioButton;

namespace CorvaneDrive {

// "Change storage keys…": new keys for the same drive, as one Cloudflare API token or the S3 key
// pair, with the endpoint and the bucket. The model checks that the stored passphrase opens
// the drive there before it keeps them and restarts the drive. Nothing is filled in.
class ChangeKeysSheet : public SettingsSheet {
    Q_OBJECT
public:
    ChangeKeysSheet(DriveCore::AppModel &model, DriveCore::HTTPSend send, QWidget *parent = nullptr);

    const ChangeKeysPresenter &state() const { return m_state; }
    const std::optional<QString> &error() const { return m_error; }
    QRadioButton *tokenSegment() const { return m_tokenSegment; }
    QRadioButton *keysSegment() const { return m_keysSegment; }
    QLineEdit *endpointField() const { return m_endpoint; }
    QLineEdit *bucketField() const { return m_bucket; }
    QLineEdit *tokenField() const { return m_token; }
    QLineEdit *accessKeyIDField() const { return m_accessKeyID; }
    QLineEdit *secretAccessKeyField() const { return m_secretAccessKey; }
    QLabel *failureLine() const { return m_failure; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *saveButton() const { return m_save; }

private:
    void render();
    void save();
    static QCoro::Task<> saving(QPointer<ChangeKeysSheet> self, QPointer<DriveCore::AppModel> model,
                                ChangeKeysPresenter fields, DriveCore::HTTPSend send);

    QPointer<DriveCore::AppModel> m_model;
    DriveCore::HTTPSend m_send;
    ChangeKeysPresenter m_state;
    std::optional<QString> m_error;
    QRadioButton *m_tokenSegment;
    QRadioButton *m_keysSegment;
    QLabel *m_hint;
    QLineEdit *m_endpoint;
    QLineEdit *m_bucket;
    QLineEdit *m_token;
    QLineEdit *m_accessKeyID;
    QLineEdit *m_secretAccessKey;
    QWidget *m_tokenRow;
    QWidget *m_keysRows;
    QLabel *m_failure;
    QProgressBar *m_indicator;
    QLabel *m_checking;
    QPushButton *m_cancel;
    QPushButton *m_save;
};

} // namespace CorvaneDrive
