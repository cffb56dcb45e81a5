// Runs under tests/support/keyring-session: a private session bus with an unlocked gnome-keyring.
#include "DriveCore/keys/SecretStore.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace DriveCore;
using TestSupport::await;

namespace {

const StorageSecrets secrets{QStringLiteral("https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com"),
                             QStringLiteral("photos"), QStringLiteral("AKID"), QStringLiteral("SECRET")};

class SecretStoreKeyringTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) << "run under keyring-session";
        // Each test starts from an empty keyring for both services.
        await(store.deleteAll());
        await(profileStore.deleteAll());
    }

    KeychainSecretStore store{QStringLiteral("com.corvane.drive")};
    KeychainSecretStore profileStore{QStringLiteral("com.corvane.drive.work")};
};

TEST_F(SecretStoreKeyringTest, SavesLoadsUpdatesAndDeletes)
{
    EXPECT_EQ(await(store.load()), std::nullopt);

    await(store.save(secrets, QStringLiteral("first pass")));
    EXPECT_EQ(await(store.load()), std::pair(secrets, QStringLiteral("first pass")));

    StorageSecrets newKeys = secrets;
    newKeys.secretAccessKey = QStringLiteral("SECRET2");
    await(store.save(newKeys, QStringLiteral("second pass")));
    EXPECT_EQ(await(store.load()), std::pair(newKeys, QStringLiteral("second pass")));

    await(store.deleteAll());
    EXPECT_EQ(await(store.load()), std::nullopt);
    EXPECT_NO_THROW(await(store.deleteAll()));
}

TEST_F(SecretStoreKeyringTest, TokenSurvivesASaveOnlyForTheSameEndpointAndBucket)
{
    await(store.save(secrets, QStringLiteral("pass")));
    await(store.saveCloudflareKey(QStringLiteral("cf-token")));

    StorageSecrets newKeys = secrets;
    newKeys.accessKeyID = QStringLiteral("AKID2");
    await(store.save(newKeys, QStringLiteral("pass")));
    EXPECT_EQ(await(store.loadCloudflareKey()), QStringLiteral("cf-token"));

    StorageSecrets otherBucket = secrets;
    otherBucket.bucket = QStringLiteral("videos");
    await(store.save(otherBucket, QStringLiteral("pass")));
    EXPECT_EQ(await(store.loadCloudflareKey()), std::nullopt);
}

TEST_F(SecretStoreKeyringTest, ProfilesKeepSeparateItems)
{
    await(store.save(secrets, QStringLiteral("main pass")));
    EXPECT_EQ(await(profileStore.load()), std::nullopt);

    StorageSecrets work = secrets;
    work.bucket = QStringLiteral("work");
    await(profileStore.save(work, QStringLiteral("work pass")));
    await(store.deleteAll());
    EXPECT_EQ(await(store.load()), std::nullopt);
    EXPECT_EQ(await(profileStore.load()), std::pair(work, QStringLiteral("work pass")));
}

TEST_F(SecretStoreKeyringTest, MigratesTheOlderLayout)
{
    const std::shared_ptr<Keychain> keychain = Keychain::live();
    const QString service = store.service();
    const QList<std::pair<QString, QByteArray>> legacy{
        {QStringLiteral("endpoint"), secrets.endpoint.toUtf8()},
        {QStringLiteral("bucket"), secrets.bucket.toUtf8()},
        {QStringLiteral("accessKeyID"), secrets.accessKeyID.toUtf8()},
        {QStringLiteral("secretAccessKey"), secrets.secretAccessKey.toUtf8()},
        {QStringLiteral("passphrase"), QByteArray("old pass")},
    };
    for (const auto &[account, value] : legacy)
        ASSERT_EQ(keychain->add(service, account, value), Keychain::success);

    EXPECT_EQ(await(store.load()), std::pair(secrets, QStringLiteral("old pass")));
    QByteArray data;
    for (const auto &[account, value] : legacy)
        EXPECT_EQ(keychain->remove(service, account), Keychain::itemNotFound) << account.toStdString();
    EXPECT_EQ(keychain->copy(service, QStringLiteral("drive"), data), Keychain::success);
}

TEST_F(SecretStoreKeyringTest, KeychainLayerAnswersWithKeychainCodes)
{
    const std::shared_ptr<Keychain> keychain = Keychain::live();
    const QString service = QStringLiteral("com.corvane.drive.layer");
    const QString account = QStringLiteral("item");
    const QByteArray binary("\x00\xff text", 7);
    QByteArray data;

    EXPECT_EQ(keychain->copy(service, account, data), Keychain::itemNotFound);
    EXPECT_EQ(keychain->update(service, account, "x"), Keychain::itemNotFound);
    EXPECT_EQ(keychain->remove(service, account), Keychain::itemNotFound);

    EXPECT_EQ(keychain->add(service, account, binary), Keychain::success);
    EXPECT_EQ(keychain->add(service, account, "again"), Keychain::duplicateItem);
    EXPECT_EQ(keychain->copy(service, account, data), Keychain::success);
    EXPECT_EQ(data, binary);

    EXPECT_EQ(keychain->update(service, account, "updated"), Keychain::success);
    EXPECT_EQ(keychain->copy(service, account, data), Keychain::success);
    EXPECT_EQ(data, "updated");
    // The account is part of the item's name: another account is another item.
    EXPECT_EQ(keychain->copy(service, QStringLiteral("other"), data), Keychain::itemNotFound);

    EXPECT_EQ(keychain->remove(service, account), Keychain::success);
    EXPECT_EQ(keychain->copy(service, account, data), Keychain::itemNotFound);
}

} // namespace
