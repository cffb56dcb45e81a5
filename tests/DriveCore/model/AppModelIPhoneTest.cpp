// The app model's phone members against a phone store in memory: the live store on this
// platform offers nothing, so the logic around it is exercised here.
#include "DriveCore/model/AppModelIPhone.h"

#include "DriveCore/keys/RecoveryKit.h"
#include "DriveCore/platform/UserDefaults.h"
#include "DriveCore/support/AppModelError.h"
#include "support/InMemoryKeychain.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace DriveCore;
using TestSupport::await;
using Call = TestSupport::InMemoryKeychain::Call;

namespace {

const StorageSecrets secrets{QStringLiteral("https://e.example"), QStringLiteral("photos"), QStringLiteral("AKID"),
                             QStringLiteral("SECRET")};
const QString passphrase = QStringLiteral("the stored passphrase");

class MemoryPhoneSync final : public PhoneSyncStoring {
public:
    bool available = true;
    std::optional<AppModelError> failure;
    std::optional<PhoneSyncItem> item;
    QStringList calls;

    bool isAvailable() const override { return available; }
    QCoro::Task<> write(PhoneSyncItem written) override
    {
        calls << (item ? QStringLiteral("update") : QStringLiteral("add"));
        if (failure)
            throw *failure;
        item = written;
        co_return;
    }
    QCoro::Task<> remove() override
    {
        calls << QStringLiteral("remove");
        if (failure)
            throw *failure;
        item.reset();
        co_return;
    }
};

template<typename T>
std::optional<QString> messageOf(QCoro::Task<T> &&task)
{
    const std::optional<AppModelError> error = TestSupport::failureOf<AppModelError>(std::move(task));
    return error ? std::optional(error->message) : std::nullopt;
}

class AppModelIPhoneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        await(store->save(secrets, passphrase));
        QObject::connect(&model, &AppModelIPhone::iPhoneSyncOnChanged, [this](bool on) { heard << on; });
    }

    AppModelIPhone::Deps deps()
    {
        return {
            [this] { return settings; }, store, defaults, [this] { return now; }, phone,
        };
    }

    QTemporaryDir folder;
    std::shared_ptr<UserDefaults> defaults =
        std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("defaults.json")));
    std::shared_ptr<TestSupport::InMemoryKeychain> keychain = std::make_shared<TestSupport::InMemoryKeychain>();
    std::shared_ptr<KeychainSecretStore> store =
        std::make_shared<KeychainSecretStore>(QStringLiteral("com.corvane.drive"), keychain);
    std::shared_ptr<MemoryPhoneSync> phone = std::make_shared<MemoryPhoneSync>();
    std::optional<DriveSettings> settings =
        DriveSettings{QStringLiteral("Ada's drive"), 30, QUuid::createUuid(), QStringLiteral("Ada's laptop"), true};
    QDateTime now = QDateTime(QDate(2025, 3, 1), QTime(12, 0), QTimeZone::utc());
    AppModelIPhone model{deps()};
    QList<bool> heard;
};

TEST_F(AppModelIPhoneTest, PairingCodeCarriesTheStoredKeysAndTokenUnderTheTypedPassphrase)
{
    await(store->saveCloudflareKey(QStringLiteral("cf-token")));
    const QString code = await(model.iPhonePairingCode(passphrase));
    RecoveryKitPayload expected = RecoveryKitPayload::make(secrets, QStringLiteral("Ada's drive"));
    expected.cloudflareKey = QStringLiteral("cf-token");
    EXPECT_EQ(RecoveryKit::decode(code, passphrase), expected);

    EXPECT_EQ(messageOf(model.iPhonePairingCode(passphrase + u' ')), AppModelIPhone::passphraseMismatchText);
}

TEST_F(AppModelIPhoneTest, PairingCodeNeedsSettingsAndKeys)
{
    settings.reset();
    EXPECT_EQ(messageOf(model.iPhonePairingCode(passphrase)),
              QStringLiteral("Your keys couldn't be read from your keyring"));
    settings = DriveSettings{QStringLiteral("d"), 30, QUuid::createUuid(), QStringLiteral("m"), true};
    await(store->deleteAll());
    EXPECT_EQ(messageOf(model.iPhonePairingCode(passphrase)), AppModelIPhone::keysUnreadableText);
    // A store that fails passes its error on unchanged.
    keychain->fail(Call::copy, QStringLiteral("drive"), Keychain::interactionNotAllowed);
    EXPECT_EQ(TestSupport::failureOf<KeychainError>(model.iPhonePairingCode(passphrase)),
              KeychainError(Keychain::interactionNotAllowed));
}

TEST_F(AppModelIPhoneTest, TurningSyncOnWritesTheItemThenStoresTheSwitch)
{
    await(store->saveCloudflareKey(QStringLiteral("cf-token")));
    await(model.setIPhoneSync(true, passphrase));
    EXPECT_TRUE(model.iPhoneSyncOn());
    EXPECT_EQ(defaults->boolean(QStringLiteral("iPhoneSync")), true);
    EXPECT_EQ(phone->item,
              (PhoneSyncItem{1, secrets.endpoint, secrets.bucket, secrets.accessKeyID, secrets.secretAccessKey,
                             passphrase, QStringLiteral("Ada's drive"), QStringLiteral("Ada's laptop"), now}));
    EXPECT_FALSE(phone->item->toJson().contains("cf-token")) << "the synced item never holds the token";

    // Again: an update with the new time and the computer's current name.
    now = now.addSecs(90);
    settings->deviceName = QStringLiteral("Renamed laptop");
    await(model.setIPhoneSync(true, passphrase));
    EXPECT_EQ(phone->calls, (QStringList{"add", "update"}));
    EXPECT_EQ(phone->item->savedAt, now);
    EXPECT_EQ(phone->item->macName, QStringLiteral("Renamed laptop"));
    EXPECT_EQ(heard, QList<bool>{true}) << "observers hear only a change";

    await(model.setIPhoneSync(false, std::nullopt));
    EXPECT_FALSE(model.iPhoneSyncOn());
    EXPECT_EQ(defaults->boolean(QStringLiteral("iPhoneSync")), false);
    EXPECT_EQ(phone->item, std::nullopt);
    EXPECT_EQ(heard, (QList<bool>{true, false}));

    // Read back at start.
    EXPECT_FALSE(AppModelIPhone(deps()).iPhoneSyncOn());
    defaults->set(QStringLiteral("iPhoneSync"), true);
    EXPECT_TRUE(AppModelIPhone(deps()).iPhoneSyncOn());
}

TEST_F(AppModelIPhoneTest, TurningSyncOnRefusesAndLeavesTheSwitch)
{
    struct Case {
        const char *name;
        std::function<void()> arrange;
        std::optional<QString> passphrase;
        QString expected;
    };
    const std::vector<Case> cases{
        {"unavailable", [this] { phone->available = false; }, passphrase,
         QStringLiteral("Not available in this version.")},
        {"no settings", [this] { settings.reset(); }, passphrase, AppModelIPhone::keysUnreadableText},
        {"no passphrase", [] {}, std::nullopt, QStringLiteral("That passphrase doesn't match this drive.")},
        {"a trailing space", [] {}, passphrase + u' ', AppModelIPhone::passphraseMismatchText},
        {"a refused write", [this] { phone->failure = AppModelError(QStringLiteral("refused")); }, passphrase,
         QStringLiteral("refused")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        phone = std::make_shared<MemoryPhoneSync>();
        settings = DriveSettings{QStringLiteral("d"), 30, QUuid::createUuid(), QStringLiteral("m"), true};
        c.arrange();
        AppModelIPhone fresh(deps());
        EXPECT_EQ(messageOf(fresh.setIPhoneSync(true, c.passphrase)), c.expected);
        EXPECT_FALSE(fresh.iPhoneSyncOn());
        EXPECT_FALSE(defaults->contains(QStringLiteral("iPhoneSync")));
    }
}

TEST_F(AppModelIPhoneTest, TurningSyncOffWithTheStoreThatOffersNothingSucceeds)
{
    AppModelIPhone::Deps none = deps();
    none.phoneSync = std::make_shared<NoPhoneSync>();
    AppModelIPhone onLinux(none);
    EXPECT_FALSE(onLinux.iPhoneSyncAvailable());
    EXPECT_NO_THROW(await(onLinux.setIPhoneSync(false, std::nullopt)));
    EXPECT_EQ(defaults->boolean(QStringLiteral("iPhoneSync")), false);
    EXPECT_EQ(messageOf(onLinux.setIPhoneSync(true, passphrase)), PhoneSyncStoring::notAvailableText);
}

TEST_F(AppModelIPhoneTest, RefreshWritesOnlyWhenOnAndLogsAFailure)
{
    await(model.refreshIPhoneSync());
    EXPECT_TRUE(phone->calls.isEmpty()) << "nothing while sync is off";

    await(model.setIPhoneSync(true, passphrase));
    const StorageSecrets replaced{secrets.endpoint, secrets.bucket, QStringLiteral("AKID2"), QStringLiteral("SECRET2")};
    await(store->save(replaced, passphrase));
    await(model.refreshIPhoneSync());
    EXPECT_EQ(phone->item->accessKeyID, QStringLiteral("AKID2"));

    std::optional<TestSupport::LogCapture> log(std::in_place);
    phone->failure = AppModelError(QStringLiteral("The phone copy couldn't be written (error -34018)."));
    await(model.refreshIPhoneSync());
    settings.reset();
    await(model.refreshIPhoneSync()); // without settings: nothing, silently
    EXPECT_EQ(log->messages(),
              QStringList{"Couldn't update the iPhone copy: The phone copy couldn't be written (error -34018)."});
    log.reset();
    EXPECT_TRUE(model.iPhoneSyncOn());
}

TEST_F(AppModelIPhoneTest, SignOutRemovesTheItemAndTheSwitchWhateverHappens)
{
    await(model.setIPhoneSync(true, passphrase));
    phone->failure = AppModelError(QStringLiteral("refused"));
    await(model.removeIPhoneSyncForSignOut());
    EXPECT_FALSE(model.iPhoneSyncOn());
    EXPECT_FALSE(defaults->contains(QStringLiteral("iPhoneSync")));
    EXPECT_EQ(phone->calls.last(), QStringLiteral("remove"));
    EXPECT_EQ(heard, (QList<bool>{true, false}));
}

} // namespace
