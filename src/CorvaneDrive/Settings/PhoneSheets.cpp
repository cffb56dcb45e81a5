#include "CorvaneDrive/Settings/PhoneSheets.h"

#include "CorvaneDrive/UiStyle.h"
#include "DriveCore/keys/PhonePairing.h"
#include "DriveCore/model/AppModel.h"
#include "DriveCore/model/AppModelIPhone.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace CorvaneDrive {

namespace {

QCoro::Task<QString> pairingCode(QPointer<DriveCore::AppModel> model, QString passphrase)
{
    if (!model)
        throw DriveCore::OwnerGone();
    co_return co_await model->iPhone().iPhonePairingCode(std::move(passphrase));
}

QCoro::Task<QString> turnOn(QPointer<DriveCore::AppModel> model, QString passphrase)
{
    if (!model)
        throw DriveCore::OwnerGone();
    co_await model->iPhone().setIPhoneSync(true, std::move(passphrase));
    co_return QString();
}

} // namespace

AddIPhoneSheet::AddIPhoneSheet(DriveCore::AppModel &model, QWidget *parent)
    : PassphraseSheet(
          title, {prompt}, showTitle,
          [model = QPointer(&model)](QString passphrase) { return pairingCode(model, std::move(passphrase)); }, parent)
{
}

std::optional<QImage> AddIPhoneSheet::qrImage(const QString &code, qreal devicePixelRatio)
{
    const std::optional<DriveCore::PairingQR::Image> modules = DriveCore::PairingQR::image(code, 1);
    if (!modules || modules->width == 0)
        return std::nullopt;
    const int scale = std::max(1, int(std::floor(qrSide * devicePixelRatio / modules->width)));
    const std::optional<DriveCore::PairingQR::Image> symbol = DriveCore::PairingQR::image(code, scale);
    if (!symbol)
        return std::nullopt;
    QImage image = QImage(reinterpret_cast<const uchar *>(symbol->pixels.constData()), symbol->width, symbol->height,
                          symbol->width, QImage::Format_Grayscale8)
                       .copy();
    image.setDevicePixelRatio(devicePixelRatio);
    return image;
}

void AddIPhoneSheet::succeeded(const QString &code)
{
    m_code = code;
    leaveAsking();
    if (const std::optional<QImage> image = qrImage(code, devicePixelRatioF())) {
        // Drawn as made, never scaled, so every module stays a sharp square of equal size.
        m_qr = new QLabel(this);
        m_qr->setPixmap(QPixmap::fromImage(*image));
        m_qr->setAlignment(Qt::AlignCenter);
        m_qr->setFixedSize(qrSide, qrSide);
        m_qr->setAccessibleName(title);
        column()->addWidget(m_qr, 0, Qt::AlignHCenter);
    }
    for (const QString &step : steps)
        column()->addWidget(UiStyle::wrappingLabel(step, this));
    QLabel *explanation = UiStyle::wrappingLabel(note, this);
    UiStyle::callout(explanation);
    UiStyle::secondary(explanation);
    column()->addWidget(explanation);
    m_copyButton = addButton(copyTitle);
    m_doneButton = addButton(doneTitle);
    setDefaultButton(m_doneButton);
    connect(m_copyButton, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(*m_code); });
    connect(m_doneButton, &QPushButton::clicked, this, &QDialog::accept);
    m_doneButton->setFocus();
}

IPhoneSyncSheet::IPhoneSyncSheet(DriveCore::AppModel &model, QWidget *parent)
    : PassphraseSheet(
          title, {explanation, prompt}, turnOnTitle,
          [model = QPointer(&model)](QString passphrase) { return turnOn(model, std::move(passphrase)); }, parent)
{
}

} // namespace CorvaneDrive
