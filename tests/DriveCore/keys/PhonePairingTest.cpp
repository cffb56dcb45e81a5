// The pairing code and its QR image; the image is read back by an independent decoder (npm
// jsqr, through read-qr.mjs beside this file).
#include "DriveCore/keys/PhonePairing.h"

#include "DriveCore/keys/RecoveryKit.h"
#include "DriveCore/keys/SecretStore.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace DriveCore;

namespace {

const StorageSecrets secrets{QStringLiteral("https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com"),
                             QStringLiteral("photos"), QStringLiteral("0123456789abcdef0123456789abcdef"),
                             QStringLiteral("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef")};
const QString passphrase = QStringLiteral("pairing passphrase of twenty");

// What the independent decoder reads in the image, or its complaint.
QString readQR(const PairingQR::Image &image)
{
    const QTemporaryDir folder;
    QFile file(folder.filePath(QStringLiteral("qr.pgm")));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("P5\n%1 %2\n255\n").arg(image.width).arg(image.height).toLatin1());
    file.write(image.pixels);
    file.close();
    QProcess node;
    node.start(QStandardPaths::findExecutable(QStringLiteral("node")),
               {QStringLiteral(READ_QR_SCRIPT), file.fileName()});
    EXPECT_TRUE(node.waitForFinished(30'000));
    if (node.exitCode() != 0)
        return QStringLiteral("decoder failed: ") + QString::fromUtf8(node.readAllStandardError());
    return QString::fromUtf8(node.readAllStandardOutput());
}

TEST(PhonePairing, CodeIsARecoveryKitOfTheKeysWithTheToken)
{
    const QString code =
        PhonePairing::code(secrets, QStringLiteral("Ada's drive"), passphrase, QStringLiteral("cf-token"));
    RecoveryKitPayload expected = RecoveryKitPayload::make(secrets, QStringLiteral("Ada's drive"));
    expected.cloudflareKey = QStringLiteral("cf-token");
    EXPECT_EQ(RecoveryKit::decode(code, passphrase), expected);
    EXPECT_FALSE(code.contains(passphrase));

    const QString withoutToken = PhonePairing::code(secrets, QStringLiteral("Ada's drive"), passphrase, std::nullopt);
    EXPECT_EQ(RecoveryKit::decode(withoutToken, passphrase).cloudflareKey, std::nullopt);
}

TEST(PairingQR, ImagesReadBackAsTheirText)
{
    const QString code =
        PhonePairing::code(secrets, QStringLiteral("Ada's drive"), passphrase, QStringLiteral("cf-token"));
    for (const auto &[text, scale] : {std::pair{code, 8.0}, std::pair{QStringLiteral("CDKIT1.short"), 8.0},
                                      std::pair{QStringLiteral("Drive — café ☁"), 3.0}}) {
        SCOPED_TRACE(text.toStdString());
        const std::optional<PairingQR::Image> image = PairingQR::image(text, scale);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->width, image->height);
        EXPECT_EQ(image->pixels.size(), qsizetype(image->width) * image->height);
        EXPECT_EQ(image->width % int(scale), 0) << "whole modules";
        EXPECT_EQ(readQR(*image), text);
    }
}

TEST(PairingQR, ModulesAreScaleByScalePixelsInsideALightQuietZone)
{
    const std::optional<PairingQR::Image> one = PairingQR::image(QStringLiteral("CDKIT1.short"), 1);
    const std::optional<PairingQR::Image> eight = PairingQR::image(QStringLiteral("CDKIT1.short"), 8);
    ASSERT_TRUE(one && eight);
    EXPECT_EQ(one->width, 21 + 2 * PairingQR::quietZone) << "the smallest symbol: 21 modules";
    EXPECT_EQ(eight->width, one->width * 8);
    for (int y = 0; y < eight->height; ++y) {
        for (int x = 0; x < eight->width; ++x)
            ASSERT_EQ(eight->isDark(x, y), one->isDark(x / 8, y / 8)) << x << "," << y;
    }
    // The finder pattern's corner is dark, just inside the quiet zone, which is light.
    EXPECT_TRUE(one->isDark(PairingQR::quietZone, PairingQR::quietZone));
    for (int i = 0; i < one->width; ++i) {
        EXPECT_FALSE(one->isDark(i, PairingQR::quietZone - 1));
        EXPECT_FALSE(one->isDark(PairingQR::quietZone - 1, i));
    }
    const std::optional<PairingQR::Image> fraction = PairingQR::image(QStringLiteral("CDKIT1.short"), 1.5);
    ASSERT_TRUE(fraction);
    EXPECT_EQ(fraction->width, int(std::ceil(one->width * 1.5)));
}

TEST(PairingQR, NoImageWithoutAUsableScaleOrText)
{
    for (const double scale :
         {0.0, -8.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(), 1e6})
        EXPECT_EQ(PairingQR::image(QStringLiteral("text"), scale), std::nullopt) << scale;
    EXPECT_EQ(PairingQR::image(QString(), 8), std::nullopt);
    EXPECT_EQ(PairingQR::image(QString(4000, u'x'), 8), std::nullopt) << "more than a symbol holds";
}

} // namespace
