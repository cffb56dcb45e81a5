#pragma once

#include "CorvaneDrive/Settings/SettingsSheet.h"

#include <QCoroTask>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <exception>
#include <functional>
#include <optional>

class QLineEdit;
class QProgressBar;

namespace CorvaneDrive {

// The state of a sheet that asks for the drive's passphrase before it does anything: the typed
// text, the last failure and whether the check runs. Toolkit-free.
struct PassphraseSheetPresenter {
    static inline const QString placeholder = QStringLiteral("Passphrase");
    static constexpr int width = 440;

    QString passphrase;
    std::optional<QString> error;
    bool working = false;

    // Something typed (blanks count: the text is not trimmed) and no check running.
    bool canConfirm() const { return !passphrase.isEmpty() && !working; }
    // The check passed: the typed text is dropped.
    void succeeded();
    // The check failed: its text is shown and what was typed stays.
    void failed(const std::exception_ptr &error);
};

// A settings sheet that first asks for the passphrase: the sheet's prompts, a masked field,
// the failure in orange, then "Cancel" and the confirming button, which runs the sheet's action
// (a key derivation or a store write, off the main thread) while a small indicator turns and
// the field and the button wait. On success the subclass shows what comes next.
class PassphraseSheet : public SettingsSheet {
    Q_OBJECT
public:
    // Gives a text for succeeded(); throws the user's error.
    using Action = std::function<QCoro::Task<QString>(QString passphrase)>;

    PassphraseSheet(const QString &title, const QStringList &prompts, const QString &confirmTitle, Action action,
                    QWidget *parent);

    const PassphraseSheetPresenter &state() const { return m_state; }
    QLineEdit *passphraseField() const { return m_field; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *confirmButton() const { return m_confirm; }
    QLabel *failureLine() const { return m_failure; }
    QProgressBar *indicator() const { return m_indicator; }
    void reject() override;

protected:
    // The action succeeded with `result`; the passphrase is already cleared.
    virtual void succeeded(const QString &result) = 0;
    // Hides the asking part and its buttons, for the next face.
    void leaveAsking();
    void showEvent(QShowEvent *event) override;

private:
    void confirm();
    void render();
    static QCoro::Task<> run(QPointer<PassphraseSheet> self, Action action, QString passphrase);

    Action m_action;
    PassphraseSheetPresenter m_state;
    QWidget *m_asking;
    QLineEdit *m_field;
    QLabel *m_failure;
    QProgressBar *m_indicator;
    QPushButton *m_cancel;
    QPushButton *m_confirm;
};

} // namespace CorvaneDrive
