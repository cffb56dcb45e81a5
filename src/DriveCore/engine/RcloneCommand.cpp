#include "DriveCore/engine/RcloneCommand.h"

#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/DriveProfile.h"
#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/keys/SecretStore.h"

#include <QCryptographicHash>

#include <openssl/err.h>
#include <openssl/evp.h>

#include <array>
#include <memory>

namespace DriveCore {

QStringList RcloneCommand::mountArguments(const DriveSettings &settings, int rcPort, bool readOnly, DriveEngine engine)
{
    const QString mountPoint = engine == DriveEngine::nfs
        ? DriveLayout::mountPath(settings.driveName)
        : DriveLayout::backingPath(settings.deviceID, DriveProfile::current());
    QStringList arguments{
        QStringLiteral("nfsmount"),
        QStringLiteral("%1:%2").arg(QLatin1String(DriveLayout::cryptRemote), QLatin1String(DriveLayout::filesFolder)),
        mountPoint,
        QStringLiteral("--volname"), settings.driveName,
        QStringLiteral("--cache-dir"), DriveLayout::cacheDir(settings.deviceID, DriveProfile::current()),
        QStringLiteral("--vfs-cache-mode"), QStringLiteral("full"),
        QStringLiteral("--vfs-read-chunk-size"), QStringLiteral("16M"),
        QStringLiteral("--vfs-read-chunk-streams"), QStringLiteral("4"),
        QStringLiteral("--vfs-read-ahead"), QStringLiteral("512M"),
        QStringLiteral("--buffer-size"), QStringLiteral("32M"),
        QStringLiteral("--vfs-write-back"), QStringLiteral("5s"),
        QStringLiteral("--dir-cache-time"), QStringLiteral("1h"),
        QStringLiteral("--s3-chunk-size"), QStringLiteral("64M"),
        QStringLiteral("--s3-upload-concurrency"), QStringLiteral("4"),
        QStringLiteral("--vfs-cache-max-size"), QString::number(settings.cacheGB) + u'G',
        QStringLiteral("--vfs-cache-max-age"), QStringLiteral("8760h"),
        QStringLiteral("--vfs-pin-file"), DriveLayout::pinFile(settings.deviceID),
        QStringLiteral("--contimeout"), QStringLiteral("10s"),
        QStringLiteral("--low-level-retries"), QStringLiteral("3"),
        QStringLiteral("--vfs-trash-dir"),
        QStringLiteral("%1:%2").arg(QLatin1String(DriveLayout::cryptRemote), QLatin1String(DriveLayout::trashFolder)),
        QStringLiteral("--vfs-conflict-copy"),
        QStringLiteral("--vfs-conflict-name"), settings.deviceName,
        QStringLiteral("--rc"),
        QStringLiteral("--rc-addr"), QStringLiteral("127.0.0.1:") + QString::number(rcPort),
        QStringLiteral("--log-file"), DriveLayout::logFile(),
        QStringLiteral("--log-level"), QStringLiteral("INFO"),
        QStringLiteral("--log-file-max-size"), QStringLiteral("50M"),
        QStringLiteral("--log-file-max-backups"), QStringLiteral("3"),
    };
    if (readOnly)
        arguments << QStringLiteral("--read-only");
    if (engine == DriveEngine::fskit)
        arguments << QStringLiteral("--option") << QStringLiteral("noac") << QStringLiteral("--option")
                  << QStringLiteral("nobrowse");
    return arguments;
}

Environment RcloneCommand::environment(const StorageSecrets &secrets, const QString &obscuredPassphrase)
{
    return {
        {QStringLiteral("RCLONE_CONFIG_DRIVE_TYPE"), QStringLiteral("s3")},
        {QStringLiteral("RCLONE_CONFIG_DRIVE_PROVIDER"), QStringLiteral("Cloudflare")},
        {QStringLiteral("RCLONE_CONFIG_DRIVE_ENDPOINT"), secrets.endpoint},
        {QStringLiteral("RCLONE_CONFIG_DRIVE_ACCESS_KEY_ID"), secrets.accessKeyID},
        {QStringLiteral("RCLONE_CONFIG_DRIVE_SECRET_ACCESS_KEY"), secrets.secretAccessKey},
        {QStringLiteral("RCLONE_CONFIG_DRIVE_NO_CHECK_BUCKET"), QStringLiteral("true")},
        {QStringLiteral("RCLONE_CONFIG_DRIVE_SERVER_SIDE_CREATE_ONLY"), QStringLiteral("true")},
        {QStringLiteral("RCLONE_CONFIG_DRIVECRYPT_TYPE"), QStringLiteral("crypt")},
        {QStringLiteral("RCLONE_CONFIG_DRIVECRYPT_REMOTE"), QStringLiteral("drive:") + secrets.bucket},
        {QStringLiteral("RCLONE_CONFIG_DRIVECRYPT_PASSWORD"), obscuredPassphrase},
        {QStringLiteral("RCLONE_CONFIG_DRIVECRYPT_FILENAME_ENCRYPTION"), QStringLiteral("standard")},
        {QStringLiteral("RCLONE_CONFIG"), QStringLiteral("/dev/null")},
    };
}

Environment RcloneCommand::rcEnvironment(const QString &user, const QString &pass)
{
    return {{QStringLiteral("RCLONE_RC_USER"), user}, {QStringLiteral("RCLONE_RC_PASS"), pass}};
}

QString RcloneCommand::obscure(const QString &text)
{
    // The engine's published key for obscured passwords.
    static constexpr std::array<unsigned char, 32> key{
        0x9c, 0x93, 0x5b, 0x48, 0x73, 0x0a, 0x55, 0x4d, 0x6b, 0xfd, 0x7c, 0x63, 0xc8, 0x86, 0xa9, 0x2b,
        0xd3, 0x90, 0x19, 0x8e, 0xb8, 0x12, 0x8a, 0xfb, 0xf4, 0xde, 0x16, 0x2b, 0x8b, 0x95, 0xf6, 0x38,
    };
    const auto fail = [](unsigned long status) {
        return ObscureError(QStringLiteral("Could not prepare the passphrase for the drive (error %1)")
                                .arg(int32_t(ERR_GET_REASON(status))));
    };

    const QByteArray plain = text.toUtf8();
    const QByteArray digest = QCryptographicHash::hash(plain, QCryptographicHash::Sha256);
    std::array<unsigned char, 16> counter;
    std::copy_n(digest.constData(), 16, counter.begin());

    QByteArray output(reinterpret_cast<const char *>(counter.data()), 16);
    output.reserve(16 + plain.size());

    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                                 &EVP_CIPHER_CTX_free);
    if (!context || EVP_EncryptInit_ex(context.get(), EVP_aes_256_ecb(), nullptr, key.data(), nullptr) != 1)
        throw fail(ERR_get_error());
    EVP_CIPHER_CTX_set_padding(context.get(), 0);

    for (qsizetype offset = 0; offset < plain.size(); offset += 16) {
        unsigned char block[16];
        int produced = 0;
        if (EVP_EncryptUpdate(context.get(), block, &produced, counter.data(), 16) != 1)
            throw fail(ERR_get_error());
        if (produced != 16)
            throw fail(0);
        const qsizetype length = std::min<qsizetype>(16, plain.size() - offset);
        for (qsizetype i = 0; i < length; ++i)
            output.append(char(uint8_t(plain[offset + i]) ^ block[i]));
        // 128-bit big-endian increment; a carry out of the first byte is dropped.
        for (int i = 15; i >= 0 && ++counter[size_t(i)] == 0; --i) {
        }
    }
    return QString::fromLatin1(output.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

} // namespace DriveCore
