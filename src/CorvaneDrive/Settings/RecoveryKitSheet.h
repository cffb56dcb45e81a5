#pragma once

#include "CorvaneDrive/Settings/PassphraseSheet.h"

#include <QPointer>

namespace DriveCore {
class AppModel;
}

namespace CorvaneDrive {

class CodeView;

// "Show Recovery Kit…": after the drive's passphrase is typed again, the drive's Recovery Kit
// code to copy into a password manager. Keeps the code only while it is open; writes no file.
class RecoveryKitSheet : public PassphraseSheet {
    Q_OBJECT
public:
    static inline const QString title = QStringLiteral("Recovery Kit");
    static inline const QString prompt = QStringLiteral("Type your drive's passphrase to show the Recovery Kit.");
    static inline const QString showTitle = QStringLiteral("Show");
    static inline const QString saveText = QStringLiteral("Save this code in your password manager. With it and your "
                                                          "passphrase you can open your drive on any computer.");
    static inline const QString copyTitle = QStringLiteral("Copy");
    static inline const QString doneTitle = QStringLiteral("Done");

    explicit RecoveryKitSheet(DriveCore::AppModel &model, QWidget *parent = nullptr);

    const std::optional<QString> &code() const { return m_code; }
    CodeView *codeView() const { return m_codeView; }
    QPushButton *copyButton() const { return m_copyButton; }
    QPushButton *doneButton() const { return m_doneButton; }

protected:
    void succeeded(const QString &code) override;

private:
    std::optional<QString> m_code;
    CodeView *m_codeView = nullptr;
    QPushButton *m_copyButton = nullptr;
    QPushButton *m_doneButton = nullptr;
};

} // namespace CorvaneDrive
