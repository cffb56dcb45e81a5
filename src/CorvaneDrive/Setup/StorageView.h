#pragma once

#include "CorvaneDrive/Setup/SetupContext.h"
#include "CorvaneDrive/Setup/SetupScreenView.h"
#include "CorvaneDrive/Setup/StoragePresenter.h"

#include <QPointer>

class QLabel;
class QLineEdit;
class QFormLayout;
class QPlainTextEdit;
class QRadioButton;

namespace CorvaneDrive {

class SetupFooter;

// The storage screen of both roads: paste a Recovery Kit (existing drive), or type the endpoint,
// the bucket and a Cloudflare API token or the two storage keys.
class StorageView : public SetupScreenView {
    Q_OBJECT
public:
    StorageView(DriveCore::SetupState &state, const SetupContext &context, QWidget *parent = nullptr);

    void render() override;
    QPushButton *defaultButton() const override;
    QWidget *firstField() const override;
    QWidget *fieldForError(const QString &error) const override;

    // For tests: the controls by their role.
    QRadioButton *pasteKitSegment() const { return m_pasteKit; }
    QRadioButton *manualSegment() const { return m_manual; }
    QRadioButton *cloudflareKeySegment() const { return m_cloudflareKey; }
    QRadioButton *storageKeysSegment() const { return m_storageKeys; }
    QPlainTextEdit *codeField() const { return m_code; }
    QLineEdit *kitPassphraseField() const { return m_kitPassphrase; }
    QLineEdit *endpointField() const { return m_endpoint; }
    QLineEdit *bucketField() const { return m_bucket; }
    QLineEdit *cloudflareKeyField() const { return m_token; }
    QLineEdit *accessKeyIDField() const { return m_accessKeyID; }
    QLineEdit *secretAccessKeyField() const { return m_secretAccessKey; }
    SetupFooter *footer() const { return m_footer; }
    // The shown explanation's panel, or none for the one-line explanation.
    std::optional<StoragePresenter::Explanation> shownExplanation() const;

private:
    QWidget *panel(const StoragePresenter::Panel &panel);

    QPointer<DriveCore::SetupState> m_state;
    SetupContext m_context;
    QWidget *m_entryPicker;
    QRadioButton *m_pasteKit;
    QRadioButton *m_manual;
    QWidget *m_kitBody;
    QPlainTextEdit *m_code;
    QLineEdit *m_kitPassphrase;
    QWidget *m_manualBody;
    QRadioButton *m_cloudflareKey;
    QRadioButton *m_storageKeys;
    QWidget *m_cloudflarePanel;
    QWidget *m_r2Panel;
    QLabel *m_existingLine;
    QFormLayout *m_form;
    QLineEdit *m_endpoint;
    QLineEdit *m_bucket;
    QLineEdit *m_token;
    QLineEdit *m_accessKeyID;
    QLineEdit *m_secretAccessKey;
    SetupFooter *m_footer;
};

} // namespace CorvaneDrive
