#pragma once

#include "CorvaneDrive/Shares/ShareSetupPresenter.h"
#include "DriveCore/shares/SharesModel.h"

#include <QCoroTask>
#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

// The link-page set-up view: how to make a Cloudflare API token, a field to paste it and "Set
// Up", which hands it to the share model's deployment and shows the model's progress and failure.
// Shown by the Share window for a first set-up and by the Shared Links window for an update. Its
// parts sit in the enclosing column, which gives their spacing.
class ShareSetupView : public QWidget {
    Q_OBJECT
public:
    ShareSetupView(DriveCore::SharesModel &shares, bool updating, QWidget *parent = nullptr);

    QLineEdit *tokenField() const { return m_token; }
    QPushButton *setUpButton() const { return m_setUp; }
    QPushButton *openTokensButton() const { return m_openTokens; }

private:
    void render();
    QCoro::Task<> setUp();

    QPointer<DriveCore::SharesModel> m_shares;
    ShareSetupPresenter m_presenter;
    QLineEdit *m_token;
    QPushButton *m_openTokens;
    QLabel *m_message;
    QWidget *m_progress;
    QPushButton *m_setUp;
};
