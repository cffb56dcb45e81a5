#pragma once

#include "CorvaneDrive/Settings/PassphraseSheet.h"

#include <QImage>

#include <optional>

namespace DriveCore {
class AppModel;
}

namespace CorvaneDrive {

// "Add an iPhone…": after the passphrase is typed again, the phone's pairing code as a QR image
// for its camera, with a button that copies the code. The code itself is never shown as text.
class AddIPhoneSheet : public PassphraseSheet {
    Q_OBJECT
public:
    static inline const QString title = QStringLiteral("Add an iPhone");
    static inline const QString prompt =
        QStringLiteral("Type your drive's passphrase to show the code for your iPhone.");
    static inline const QString showTitle = QStringLiteral("Show code");
    static inline const QStringList steps = {
        QStringLiteral("1. Open Ovra on your iPhone and choose Scan a code."),
        QStringLiteral("2. Point the iPhone at this code."),
        QStringLiteral("3. Type your passphrase on the iPhone."),
    };
    static inline const QString note = QStringLiteral("The code is locked with your passphrase: on its own it opens "
                                                      "nothing. No camera? Copy the code and paste it on "
                                                      "the iPhone.");
    static inline const QString copyTitle = QStringLiteral("Copy code");
    static inline const QString doneTitle = QStringLiteral("Done");
    // The code's side in device-independent pixels; the symbol is centred in it.
    static constexpr int qrSide = 240;

    explicit AddIPhoneSheet(DriveCore::AppModel &model, QWidget *parent = nullptr);

    // The code's QR symbol as large as fits qrSide at `devicePixelRatio`, each module a whole
    // number of device pixels square, so that no module is wider than another; none when it
    // cannot be made.
    static std::optional<QImage> qrImage(const QString &code, qreal devicePixelRatio = 1);

    const std::optional<QString> &code() const { return m_code; }
    QLabel *qrLabel() const { return m_qr; } // none without an image
    QPushButton *copyButton() const { return m_copyButton; }
    QPushButton *doneButton() const { return m_doneButton; }

protected:
    void succeeded(const QString &code) override;

private:
    std::optional<QString> m_code;
    QLabel *m_qr = nullptr;
    QPushButton *m_copyButton = nullptr;
    QPushButton *m_doneButton = nullptr;
};

// The phone switch turned on: after the passphrase is typed again, sync is turned on and the
// sheet closes itself.
class IPhoneSyncSheet : public PassphraseSheet {
    Q_OBJECT
public:
    static inline const QString title = QStringLiteral("Use your drive on your iPhone");
    static inline const QString explanation = QStringLiteral(
        "Ovra saves your drive's details in your iCloud Keychain, so the Ovra iPhone app can connect without a code. "
        "Apple keeps them end-to-end encrypted; Corvane never sees them.");
    static inline const QString prompt = QStringLiteral("Type your drive's passphrase to turn this on.");
    static inline const QString turnOnTitle = QStringLiteral("Turn On");

    explicit IPhoneSyncSheet(DriveCore::AppModel &model, QWidget *parent = nullptr);

protected:
    void succeeded(const QString &) override { accept(); }
};

} // namespace CorvaneDrive
