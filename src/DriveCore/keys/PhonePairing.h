#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace DriveCore {

struct StorageSecrets;

// The pairing code the phone app scans: a Recovery Kit code of the drive's current keys, with
// the Cloudflare API token when one is kept, sealed under the passphrase (never inside it).
namespace PhonePairing {

// Costs one Recovery Kit key derivation: run it off the main thread. Throws RecoveryKitError.
QString code(const StorageSecrets &secrets, const QString &driveName, const QString &passphrase,
             const std::optional<QString> &cloudflareKey);

} // namespace PhonePairing

// The pairing code as a QR symbol (medium error correction) in a plain bitmap, which the
// screens wrap in an image (QImage::Format_Grayscale8) without a copy.
namespace PairingQR {

// Light modules around the symbol, as the QR standard asks, so it scans on any background.
inline constexpr int quietZone = 4;

struct Image {
    int width = 0;
    int height = 0;
    QByteArray pixels; // one byte per pixel, rows from the top: 0 dark, 255 light

    bool isDark(int x, int y) const { return pixels.at(qsizetype(y) * width + x) == 0; }
    bool operator==(const Image &) const = default;
};

// The symbol of the text's UTF-8 bytes with every module scale by scale pixels; none when
// the text cannot be encoded or the scale is not a positive size.
std::optional<Image> image(const QString &text, double scale);

} // namespace PairingQR

} // namespace DriveCore
