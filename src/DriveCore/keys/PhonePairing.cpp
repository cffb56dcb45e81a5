#include "DriveCore/keys/PhonePairing.h"

#include "DriveCore/keys/RecoveryKit.h"
#include "DriveCore/keys/SecretStore.h"

#include <qrencode.h>

#include <cmath>
#include <memory>

namespace DriveCore {

QString PhonePairing::code(const StorageSecrets &secrets, const QString &driveName, const QString &passphrase,
                           const std::optional<QString> &cloudflareKey)
{
    RecoveryKitPayload payload = RecoveryKitPayload::make(secrets, driveName);
    payload.cloudflareKey = cloudflareKey;
    return RecoveryKit::encode(payload, passphrase);
}

std::optional<PairingQR::Image> PairingQR::image(const QString &text, double scale)
{
    // A symbol is at most 177 modules wide; anything past this many pixels is no screen's size.
    constexpr double largestSide = 16384;
    const QByteArray bytes = text.toUtf8();
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> symbol(
        QRcode_encodeData(int(bytes.size()), reinterpret_cast<const unsigned char *>(bytes.constData()), 0,
                          QR_ECLEVEL_M),
        &QRcode_free);
    if (!symbol || !std::isfinite(scale) || scale <= 0)
        return std::nullopt;

    const int modules = symbol->width + 2 * quietZone;
    const double side = std::ceil(modules * scale);
    if (side < 1 || side > largestSide)
        return std::nullopt;
    Image image;
    image.width = image.height = int(side);
    image.pixels = QByteArray(qsizetype(image.width) * image.height, char(255));
    for (int y = 0; y < image.height; ++y) {
        const int row = std::min(int(y / scale), modules - 1) - quietZone;
        if (row < 0 || row >= symbol->width)
            continue;
        for (int x = 0; x < image.width; ++x) {
            const int column = std::min(int(x / scale), modules - 1) - quietZone;
            // Bit 0 of each module byte is its colour: 1 is dark.
            if (column >= 0 && column < symbol->width && (symbol->data[row * symbol->width + column] & 1))
                image.pixels[qsizetype(y) * image.width + x] = 0;
        }
    }
    return image;
}

} // namespace DriveCore
