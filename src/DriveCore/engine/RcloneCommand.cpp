#include "DriveCore/engine/RcloneCommand.h"

#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/DriveProfile.h"
#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/engine/StorageSecrets.h"
#include "DriveCore/platform/Crypto.h"
#include "DriveCore/support/Base64URL.h"

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
        QStringLiteral("--volname"),
        settings.driveName,
        QStringLiteral("--cache-dir"),
        DriveLayout::cacheDir(settings.deviceID, DriveProfile::current()),
        QStringLiteral("--vfs-cache-mode"),
        QStringLiteral("full"),
        QStringLiteral("--vfs-read-chunk-size"),
        QStringLiteral("16M"),
        QStringLiteral("--vfs-read-chunk-streams"),
        QStringLiteral("4"),
        QStringLiteral("--vfs-read-ahead"),
        QStringLiteral("512M"),
        QStringLiteral("--buffer-size"),
        QStringLiteral("32M"),
        QStringLiteral("--vfs-write-back"),
        QStringLiteral("5s"),
        QStringLiteral("--dir-cache-time"),
        QStringLiteral("1h"),
        QStringLiteral("--s3-chunk-size"),
        QStringLiteral("64M"),
        QStringLiteral("--s3-upload-concurrency"),
        QStringLiteral("4"),
        QStringLiteral("--vfs-cache-max-size"),
        QString::number(settings.cacheGB) + u'G',
        QStringLiteral("--vfs-cache-max-age"),
        QStringLiteral("8760h"),
        QStringLiteral("--vfs-pin-file"),
        DriveLayout::pinFile(settings.deviceID),
        QStringLiteral("--contimeout"),
        QStringLiteral("10s"),
        QStringLiteral("--low-level-retries"),
        QStringLiteral("3"),
        QStringLiteral("--vfs-trash-dir"),
        QStringLiteral("%1:%2").arg(QLatin1String(DriveLayout::cryptRemote), QLatin1String(DriveLayout::trashFolder)),
        QStringLiteral("--vfs-conflict-copy"),
        QStringLiteral("--vfs-conflict-name"),
        settings.deviceName,
        QStringLiteral("--rc"),
        QStringLiteral("--rc-addr"),
        QStringLiteral("127.0.0.1:") + QString::number(rcPort),
        QStringLiteral("--log-file"),
        DriveLayout::logFile(),
        QStringLiteral("--log-level"),
        QStringLiteral("INFO"),
        QStringLiteral("--log-file-max-size"),
        QStringLiteral("50M"),
        QStringLiteral("--log-file-max-backups"),
        QStringLiteral("3"),
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
    static const QByteArray key =
        QByteArray::fromHex("9c935b48730a554d6bfd7c63c886a92bd390198eb8128afbf4de162b8b95f638");
    const QByteArray plain = text.toUtf8();
    // The IV comes from the text itself, so the same passphrase always gives the same form.
    const QByteArray iv = Crypto::sha256(plain).left(16);
    try {
        return Base64URL::encode(iv + Crypto::aes256Ctr(key, iv, plain));
    } catch (const Crypto::Error &error) {
        throw ObscureError(
            QStringLiteral("Could not prepare the passphrase for the drive (error %1)").arg(error.status));
    }
}

} // namespace DriveCore
