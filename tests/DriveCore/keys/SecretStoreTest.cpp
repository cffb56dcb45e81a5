#include "DriveCore/keys/SecretStore.h"

#include "support/InMemoryKeychain.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace DriveCore;
using TestSupport::await;
using Call = TestSupport::InMemoryKeychain::Call;

namespace {

const QString service = QStringLiteral("com.corvane.drive");
const StorageSecrets secrets{QStringLiteral("https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com"),
                             QStringLiteral("photos"), QStringLiteral("AKID"), QStringLiteral("SECRET")};

class SecretStoreTest : public ::testing::Test {
protected:
    std::shared_ptr<TestSupport::InMemoryKeychain> keychain = std::make_shared<TestSupport::InMemoryKeychain>();
    KeychainSecretStore store{service, keychain};

    QByteArray driveItem() const { return keychain->items(service).value(QStringLiteral("drive")); }

    void putLegacy(const QStringList &accounts)
    {
        const QMap<QString, QByteArray> values{
            {QStringLiteral("endpoint"), secrets.endpoint.toUtf8()},
            {QStringLiteral("bucket"), secrets.bucket.toUtf8()},
            {QStringLiteral("accessKeyID"), secrets.accessKeyID.toUtf8()},
            {QStringLiteral("secretAccessKey"), secrets.secretAccessKey.toUtf8()},
            {QStringLiteral("passphrase"), QByteArray("old pass")},
        };
        for (const QString &account : accounts)
            keychain->put(service, account, values.value(account));
    }

    template<typename T>
    static Keychain::Status keychainStatus(QCoro::Task<T> &&task)
    {
        try {
            await(std::move(task));
        } catch (const KeychainError &error) {
            return error.status;
        }
        return Keychain::success;
    }
};

const QStringList allLegacy{QStringLiteral("endpoint"), QStringLiteral("bucket"), QStringLiteral("accessKeyID"),
                            QStringLiteral("secretAccessKey"), QStringLiteral("passphrase")};

TEST_F(SecretStoreTest, NothingStored)
{
    EXPECT_EQ(await(store.load()), std::nullopt);
    EXPECT_EQ(await(store.loadCloudflareKey()), std::nullopt);
    EXPECT_NO_THROW(await(store.deleteAll()));
    // A token is never kept without keys.
    EXPECT_EQ(keychainStatus(store.saveCloudflareKey(QStringLiteral("token"))), Keychain::itemNotFound);
    EXPECT_TRUE(keychain->items(service).isEmpty());
}

TEST_F(SecretStoreTest, SavesOneCompactRecordAndLoadsIt)
{
    await(store.save(secrets, QStringLiteral("pass \"word\"/\\\n")));
    EXPECT_EQ(driveItem(),
              R"({"endpoint":"https:\/\/0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com",)"
              R"("bucket":"photos","accessKeyID":"AKID","secretAccessKey":"SECRET",)"
              R"("passphrase":"pass \"word\"\/\\\n"})");
    EXPECT_EQ(keychain->calls(), (QStringList{"copy drive", "update drive", "add drive"}));

    const auto loaded = await(store.load());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->first, secrets);
    EXPECT_EQ(loaded->second, QStringLiteral("pass \"word\"/\\\n"));

    await(store.saveCloudflareKey(QStringLiteral("cf-token")));
    EXPECT_TRUE(driveItem().endsWith(R"("passphrase":"pass \"word\"\/\\\n","cloudflareKey":"cf-token"})"));
    // An existing item is updated, never added again.
    EXPECT_EQ(keychain->calls().last(), QStringLiteral("update drive"));
}

TEST_F(SecretStoreTest, TokenSurvivesOnlyTheSameEndpointAndBucket)
{
    struct Case {
        const char *name;
        StorageSecrets next;
        QString passphrase;
        bool kept;
    };
    const auto with = [](auto change) {
        StorageSecrets changed = secrets;
        change(changed);
        return changed;
    };
    const std::vector<Case> cases{
        {"new keys and passphrase", with([](auto &s) {
             s.accessKeyID = "K2";
             s.secretAccessKey = "S2";
         }),
         "new", true},
        {"same everything", secrets, "pass", true},
        {"other bucket", with([](auto &s) { s.bucket = "videos"; }), "pass", false},
        {"bucket in other case", with([](auto &s) { s.bucket = "Photos"; }), "pass", false},
        {"endpoint in other case", with([](auto &s) { s.endpoint = s.endpoint.toUpper(); }), "pass", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        await(store.save(secrets, QStringLiteral("pass")));
        await(store.saveCloudflareKey(QStringLiteral("cf-token")));
        await(store.save(c.next, c.passphrase));
        EXPECT_EQ(await(store.loadCloudflareKey()), c.kept ? std::optional(QStringLiteral("cf-token")) : std::nullopt);
        EXPECT_EQ(await(store.load()), std::pair(c.next, c.passphrase));
    }
}

TEST_F(SecretStoreTest, RemovingTheTokenKeepsKeysAndPassphrase)
{
    await(store.save(secrets, QStringLiteral("pass")));
    await(store.saveCloudflareKey(QStringLiteral("cf-token")));
    await(store.saveCloudflareKey(std::nullopt));
    EXPECT_EQ(await(store.loadCloudflareKey()), std::nullopt);
    EXPECT_EQ(await(store.load()), std::pair(secrets, QStringLiteral("pass")));
    EXPECT_FALSE(driveItem().contains("cloudflareKey"));
}

TEST_F(SecretStoreTest, RecordsThatDoNotReadAreThrownButOverwrittenBySave)
{
    const std::vector<QByteArray> unreadable{
        "not json",
        "[]",
        R"({"endpoint":"e","bucket":"b","accessKeyID":"a","secretAccessKey":"s"})",
        R"({"endpoint":"e","bucket":"b","accessKeyID":"a","secretAccessKey":7,"passphrase":"p"})",
        R"({"endpoint":"e","bucket":"b","accessKeyID":"a","secretAccessKey":"s","passphrase":null})",
        R"({"endpoint":"e","bucket":"b","accessKeyID":"a","secretAccessKey":"s","passphrase":"p","cloudflareKey":1})",
    };
    for (const QByteArray &record : unreadable) {
        SCOPED_TRACE(record.toStdString());
        keychain->put(service, QStringLiteral("drive"), record);
        EXPECT_THROW(await(store.load()), KeychainSecretStore::UnreadableRecord);
        EXPECT_THROW(await(store.loadCloudflareKey()), KeychainSecretStore::UnreadableRecord);
        EXPECT_THROW(await(store.saveCloudflareKey(QStringLiteral("t"))), KeychainSecretStore::UnreadableRecord);
        await(store.save(secrets, QStringLiteral("pass")));
        EXPECT_EQ(await(store.load()), std::pair(secrets, QStringLiteral("pass")));
    }
}

TEST_F(SecretStoreTest, ExtraKeysAndNullTokenReadAndAreDroppedOnSave)
{
    keychain->put(service, QStringLiteral("drive"),
                  R"({"passphrase":"p","bucket":"b","accessKeyID":"a","secretAccessKey":"s","endpoint":"e",)"
                  R"("cloudflareKey":null,"colour":"blue"})");
    EXPECT_EQ(await(store.load()), std::pair(StorageSecrets{"e", "b", "a", "s"}, QStringLiteral("p")));
    EXPECT_EQ(await(store.loadCloudflareKey()), std::nullopt);
    await(store.saveCloudflareKey(QStringLiteral("t")));
    EXPECT_EQ(
        driveItem(),
        R"({"endpoint":"e","bucket":"b","accessKeyID":"a","secretAccessKey":"s","passphrase":"p","cloudflareKey":"t"})");
}

TEST_F(SecretStoreTest, MigratesTheOlderLayoutOnce)
{
    putLegacy(allLegacy);
    EXPECT_EQ(await(store.load()), std::pair(secrets, QStringLiteral("old pass")));
    EXPECT_EQ(keychain->items(service).keys(), QStringList{"drive"});
    EXPECT_EQ(keychain->calls().mid(6),
              (QStringList{"copy drive", "update drive", "add drive", "copy drive", "remove endpoint", "remove bucket",
                           "remove accessKeyID", "remove secretAccessKey", "remove passphrase"}));

    const qsizetype before = keychain->calls().size();
    EXPECT_EQ(await(store.load()), std::pair(secrets, QStringLiteral("old pass")));
    EXPECT_EQ(keychain->calls().mid(before), QStringList{"copy drive"});
}

TEST_F(SecretStoreTest, OlderLayoutValuesKeepALeadingByteOrderMark)
{
    // The passphrase is whatever was stored: dropping the mark would open nothing.
    putLegacy(allLegacy);
    keychain->put(service, QStringLiteral("passphrase"), QByteArray("\xEF\xBB\xBFold pass"));
    const auto loaded = await(store.load());
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->second, QStringView(u"\uFEFFold pass").toString());
}

TEST_F(SecretStoreTest, IncompleteOrUndecodableOlderLayoutIsNotMigrated)
{
    putLegacy(allLegacy.mid(0, 4));
    EXPECT_EQ(await(store.load()), std::nullopt);
    EXPECT_FALSE(keychain->items(service).contains(QStringLiteral("drive")));

    putLegacy(allLegacy);
    keychain->put(service, QStringLiteral("bucket"), QByteArray("\xff\xfe", 2));
    EXPECT_EQ(await(store.load()), std::nullopt);
    EXPECT_EQ(keychain->items(service).size(), 5);
}

TEST_F(SecretStoreTest, MigrationKeepsTheOlderItemsWhenTheyCannotBeRemoved)
{
    putLegacy(allLegacy);
    keychain->fail(Call::remove, QStringLiteral("bucket"), Keychain::interactionNotAllowed);
    EXPECT_EQ(await(store.load()), std::pair(secrets, QStringLiteral("old pass")));
    // Removal stops at the first failure; the rest wait for a later attempt.
    EXPECT_EQ(keychain->items(service).keys(),
              (QStringList{"accessKeyID", "bucket", "drive", "passphrase", "secretAccessKey"}));
}

TEST_F(SecretStoreTest, DeleteAllRemovesBothLayouts)
{
    putLegacy(allLegacy);
    await(store.save(secrets, QStringLiteral("pass")));
    await(store.deleteAll());
    EXPECT_TRUE(keychain->items(service).isEmpty());
    EXPECT_EQ(await(store.load()), std::nullopt);
}

TEST_F(SecretStoreTest, KeychainFailuresAreThrownAndStopTheOperation)
{
    await(store.save(secrets, QStringLiteral("pass")));
    putLegacy(allLegacy);

    keychain->fail(Call::remove, QStringLiteral("bucket"), Keychain::notAvailable);
    EXPECT_EQ(keychainStatus(store.deleteAll()), Keychain::notAvailable);
    EXPECT_EQ(keychain->items(service).keys(), (QStringList{"accessKeyID", "bucket", "passphrase", "secretAccessKey"}));

    keychain->fail(Call::copy, QStringLiteral("drive"), Keychain::interactionNotAllowed);
    EXPECT_EQ(keychainStatus(store.save(secrets, QStringLiteral("other"))), Keychain::interactionNotAllowed);
    EXPECT_EQ(keychainStatus(store.load()), Keychain::interactionNotAllowed);
    EXPECT_FALSE(keychain->items(service).contains(QStringLiteral("drive")));
}

TEST_F(SecretStoreTest, OlderLayoutFailuresAreThrownNotTakenForNoKeys)
{
    // Answering "nothing stored" here would send a set-up drive back to setup.
    const std::vector<std::pair<Call, QString>> failures{
        {Call::copy, QStringLiteral("secretAccessKey")},
        {Call::add, QStringLiteral("drive")},
    };
    for (const auto &[call, account] : failures) {
        SCOPED_TRACE(account.toStdString());
        keychain = std::make_shared<TestSupport::InMemoryKeychain>();
        putLegacy(allLegacy);
        keychain->fail(call, account, Keychain::interactionNotAllowed);
        KeychainSecretStore failingStore(service, keychain);
        EXPECT_EQ(keychainStatus(failingStore.load()), Keychain::interactionNotAllowed);
        EXPECT_EQ(keychain->items(service).size(), 5);
    }
}

TEST_F(SecretStoreTest, UpdateAndAddFailuresAreThrown)
{
    keychain->fail(Call::add, QStringLiteral("drive"), Keychain::duplicateItem);
    EXPECT_EQ(keychainStatus(store.save(secrets, QStringLiteral("pass"))), Keychain::duplicateItem);

    keychain->put(service, QStringLiteral("drive"), "{}");
    keychain->fail(Call::update, QStringLiteral("drive"), Keychain::userCanceled);
    EXPECT_EQ(keychainStatus(store.save(secrets, QStringLiteral("pass"))), Keychain::userCanceled);
    EXPECT_EQ(driveItem(), "{}");
}

TEST_F(SecretStoreTest, OperationsStartedTogetherRunInTheOrderTheyWereStarted)
{
    // Neither is awaited before the next starts: the token needs the saved item, and the load
    // must see both.
    auto save = store.save(secrets, QStringLiteral("pass"));
    auto token = store.saveCloudflareKey(QStringLiteral("cf-token"));
    auto loaded = store.load();
    auto key = store.loadCloudflareKey();
    await(std::move(save));
    EXPECT_NO_THROW(await(std::move(token)));
    EXPECT_EQ(await(std::move(loaded))->second, QStringLiteral("pass"));
    EXPECT_EQ(await(std::move(key)), QStringLiteral("cf-token"));
}

TEST(KeychainErrorTest, DescriptionNamesTheStatus)
{
    EXPECT_EQ(KeychainError(-25300).description(),
              QStringLiteral("Keyring error -25300: The specified item could not be found in your keyring."));
    EXPECT_EQ(KeychainError(42).description(), QStringLiteral("Keyring error 42: unknown error"));
    EXPECT_STREQ(KeychainError(-25291).what(),
                 "Keyring error -25291: No keyring is available. You may need to restart your computer.");
    EXPECT_EQ(KeychainError(-25300), KeychainError(-25300));
}

TEST(StorageSecretsTest, JSONHasExactlyTheFourKeys)
{
    const QJsonObject json = secrets.toJson();
    EXPECT_EQ(json.keys(), (QStringList{"accessKeyID", "bucket", "endpoint", "secretAccessKey"}));
    EXPECT_EQ(StorageSecrets::fromJson(json), secrets);
    QJsonObject missing = json;
    missing.remove(QStringLiteral("bucket"));
    EXPECT_EQ(StorageSecrets::fromJson(missing), std::nullopt);
}

} // namespace
