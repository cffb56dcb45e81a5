#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/keys/SecretStore.h"
#include "support/ScopedEnvironment.h"

#include <QCryptographicHash>

#include <gtest/gtest.h>

using namespace DriveCore;

namespace {

class RcloneCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        env.set("HOME", "/home/u");
        env.set("XDG_DATA_HOME", "/data");
        env.set("XDG_STATE_HOME", "/state");
    }

    TestSupport::ScopedEnvironment env;
    DriveSettings settings{.driveName = QStringLiteral("Ovra Drive"),
                           .deviceID = QUuid::fromString(QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e")),
                           .deviceName = QStringLiteral("Ann's Laptop")};
    const QString ID = QStringLiteral("0F8FAD5B-D9CB-469F-A165-70867728950E");
};

} // namespace

TEST_F(RcloneCommandTest, MountArgumentsForTheNfsEngine)
{
    const QStringList args = RcloneCommand::mountArguments(settings, 50123, false, DriveEngine::nfs);
    const QStringList expected{
        "nfsmount",
        "drivecrypt:Drive",
        "/home/u/Mounts/Ovra Drive",
        "--volname",
        "Ovra Drive",
        "--cache-dir",
        "/data/CorvaneDrive/Cache/" + ID,
        "--vfs-cache-mode",
        "full",
        "--vfs-read-chunk-size",
        "16M",
        "--vfs-read-chunk-streams",
        "4",
        "--vfs-read-ahead",
        "512M",
        "--buffer-size",
        "32M",
        "--vfs-write-back",
        "5s",
        "--dir-cache-time",
        "1h",
        "--s3-chunk-size",
        "64M",
        "--s3-upload-concurrency",
        "4",
        "--vfs-cache-max-size",
        "30G",
        "--vfs-cache-max-age",
        "8760h",
        "--vfs-pin-file",
        "/data/CorvaneDrive/Keep/" + ID + ".json",
        "--contimeout",
        "10s",
        "--low-level-retries",
        "3",
        "--vfs-trash-dir",
        "drivecrypt:Recently Deleted",
        "--vfs-conflict-copy",
        "--vfs-conflict-name",
        "Ann's Laptop",
        "--rc",
        "--rc-addr",
        "127.0.0.1:50123",
        "--log-file",
        "/state/CorvaneDrive/rclone.log",
        "--log-level",
        "INFO",
        "--log-file-max-size",
        "50M",
        "--log-file-max-backups",
        "3",
    };
    ASSERT_EQ(args.size(), 51);
    EXPECT_EQ(args, expected);
}

TEST_F(RcloneCommandTest, FileSystemLayerAndReadOnlyTail)
{
    settings.cacheGB = 125;
    const QStringList args = RcloneCommand::mountArguments(settings, 7, true, DriveEngine::fskit);
    ASSERT_EQ(args.size(), 56);
    EXPECT_EQ(args[2], "/data/CorvaneDrive/Backing/" + ID);
    EXPECT_EQ(args[26], "125G");
    EXPECT_EQ(args[42], "127.0.0.1:7");
    EXPECT_EQ(args.mid(51), (QStringList{"--read-only", "--option", "noac", "--option", "nobrowse"}));

    EXPECT_EQ(RcloneCommand::mountArguments(settings, 7, true, DriveEngine::nfs).mid(51), QStringList{"--read-only"});
    EXPECT_EQ(RcloneCommand::mountArguments(settings, 7, false, DriveEngine::fskit).size(), 55);
}

TEST_F(RcloneCommandTest, ConfigurationEnvironment)
{
    const StorageSecrets secrets{QStringLiteral("https://abc.r2.cloudflarestorage.com"), QStringLiteral("my-bucket"),
                                 QStringLiteral("AKID"), QStringLiteral(" secret ")};
    const Environment expected{
        {"RCLONE_CONFIG_DRIVE_TYPE", "s3"},
        {"RCLONE_CONFIG_DRIVE_PROVIDER", "Cloudflare"},
        {"RCLONE_CONFIG_DRIVE_ENDPOINT", "https://abc.r2.cloudflarestorage.com"},
        {"RCLONE_CONFIG_DRIVE_ACCESS_KEY_ID", "AKID"},
        {"RCLONE_CONFIG_DRIVE_SECRET_ACCESS_KEY", " secret "},
        {"RCLONE_CONFIG_DRIVE_NO_CHECK_BUCKET", "true"},
        {"RCLONE_CONFIG_DRIVE_SERVER_SIDE_CREATE_ONLY", "true"},
        {"RCLONE_CONFIG_DRIVECRYPT_TYPE", "crypt"},
        {"RCLONE_CONFIG_DRIVECRYPT_REMOTE", "drive:my-bucket"},
        {"RCLONE_CONFIG_DRIVECRYPT_PASSWORD", "obscured"},
        {"RCLONE_CONFIG_DRIVECRYPT_FILENAME_ENCRYPTION", "standard"},
        {"RCLONE_CONFIG", "/dev/null"},
    };
    EXPECT_EQ(RcloneCommand::environment(secrets, QStringLiteral("obscured")), expected);
    EXPECT_EQ(RcloneCommand::rcEnvironment(QStringLiteral("corvane"), QStringLiteral("pw")),
              (Environment{{"RCLONE_RC_USER", "corvane"}, {"RCLONE_RC_PASS", "pw"}}));
}

TEST_F(RcloneCommandTest, ObscuredFormIsDeterministicUnpaddedBase64UrlWithTheIvInFront)
{
    for (const QString &text : {QString(), QStringLiteral("a"), QString(16, u'x'), QString(17, u'x'),
                                QStringLiteral("pässwörd with spaces/and+signs"), QString(200, u'z')}) {
        const QString obscured = RcloneCommand::obscure(text);
        EXPECT_EQ(obscured, RcloneCommand::obscure(text));
        EXPECT_FALSE(obscured.contains(u'+') || obscured.contains(u'/') || obscured.contains(u'='));
        const QByteArray bytes = QByteArray::fromBase64(obscured.toLatin1(), QByteArray::Base64UrlEncoding);
        const QByteArray utf8 = text.toUtf8();
        ASSERT_EQ(bytes.size(), 16 + utf8.size());
        EXPECT_EQ(bytes.left(16), QCryptographicHash::hash(utf8, QCryptographicHash::Sha256).left(16));
    }
    EXPECT_EQ(RcloneCommand::obscure(QString()).size(), 22);
}
