// Known key values are planted, failures are provoked through the real engine program and
// through a stand-in engine that prints the keys of its environment into every error, and
// every error text, setup message and log line they produce is searched for the values.
#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/keys/DriveConnection.h"
#include "DriveCore/keys/SetupState.h"
#include "DriveCore/keys/SignOut.h"
#include "DriveCore/model/AppModelIPhone.h"
#include "DriveCore/platform/UserDefaults.h"
#include "DriveCore/support/AppModelError.h"
#include "support/FreePort.h"
#include "support/InMemoryKeychain.h"
#include "support/LogCapture.h"
#include "support/S3Server.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace DriveCore;
using TestSupport::await;

namespace {

const QString plantedKeyID = QStringLiteral("AKIAPLANTEDKEY0001");
const QString plantedSecret = QStringLiteral("plantedSecret/Value+0001");
const QString plantedPassphrase = QStringLiteral("planted passphrase value 0001");
const QString plantedToken = QStringLiteral("planted-cloudflare-token-0001");

class SecretsInFailuresTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=true"));
        log.emplace();
    }
    void TearDown() override
    {
        const QStringList logLines = log->messages();
        log.reset();
        QLoggingCategory::setFilterRules(QString());
        const QStringList planted{plantedKeyID, plantedSecret, plantedPassphrase, plantedToken,
                                  RcloneCommand::obscure(plantedPassphrase)};
        ASSERT_FALSE(texts.isEmpty());
        for (const QString &text : texts + logLines) {
            for (const QString &secret : planted)
                EXPECT_FALSE(text.contains(secret))
                    << "\"" << text.toStdString() << "\" holds " << secret.toStdString();
        }
    }

    void collect(const std::exception &error)
    {
        texts << QString::fromUtf8(error.what()) << SignOut::failureText(error);
        if (const auto *connection = dynamic_cast<const ConnectionError *>(&error))
            texts << connection->message() << connection->detail;
    }
    template<typename T>
    void collectFailure(QCoro::Task<T> &&task)
    {
        try {
            await(std::move(task));
            ADD_FAILURE() << "no failure";
        } catch (const std::exception &error) {
            collect(error);
        }
    }
    void collect(const SetupState &state)
    {
        ASSERT_TRUE(state.error());
        texts << state.error()->text << state.error()->details.value_or(QString());
    }

    StorageSecrets planted(const StorageSecrets &base) const
    {
        return {base.endpoint, base.bucket, plantedKeyID, plantedSecret};
    }

    std::optional<TestSupport::LogCapture> log;
    QStringList texts;
    QTemporaryDir folder;
};

TEST_F(SecretsInFailuresTest, RealEngineFailures)
{
    const QString rclone = QStandardPaths::findExecutable(QStringLiteral("rclone"));
    TestSupport::S3Server server;
    ASSERT_TRUE(server.start()) << server.output().toStdString();
    DriveConnection connection(rclone);
    const StorageSecrets keys = planted(server.secrets());
    StorageSecrets offline = keys;
    offline.endpoint = QStringLiteral("http://127.0.0.1:%1").arg(TestSupport::freePort());
    StorageSecrets noBucket = keys;
    noBucket.bucket = QStringLiteral("missing");

    for (const StorageSecrets &secrets : {keys, offline, noBucket}) {
        const std::optional<ConnectionError> failure = await(connection.testStorage(secrets));
        ASSERT_TRUE(failure);
        collect(*failure);
    }
    // Only the storage test limits the engine's retries: offline, the others take minutes.
    for (const StorageSecrets &secrets : {keys, noBucket}) {
        collectFailure(connection.checkPassphrase(plantedPassphrase, secrets));
        collectFailure(connection.prepareNewDrive(plantedPassphrase, secrets));
        collectFailure(connection.migrateRootIntoDrive(plantedPassphrase, secrets));
    }
}

TEST_F(SecretsInFailuresTest, AnEngineThatPrintsItsKeysAndEverySetupMessageAfterIt)
{
    // Every lsf succeeds in "lsf-ok" mode; everything else prints the keys of its environment.
    const QString mode = folder.filePath(QStringLiteral("mode"));
    const auto setMode = [&](const char *value) {
        QFile file(mode);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(value);
    };
    setMode("fail");
    const QString standIn = TestSupport::writeScript(
        folder.filePath(QStringLiteral("rclone")),
        QStringLiteral("if [ \"$(/bin/cat '%1')\" = lsf-ok ] && [ \"$1\" = lsf ]; then exit 0; fi\n"
                       "echo \"NOTICE: using $RCLONE_CONFIG_DRIVE_ACCESS_KEY_ID\" >&2\n"
                       "echo \"ERROR : refused key $RCLONE_CONFIG_DRIVE_ACCESS_KEY_ID secret "
                       "$RCLONE_CONFIG_DRIVE_SECRET_ACCESS_KEY\" >&2\nexit 1\n")
            .arg(mode));
    const auto connection = std::make_shared<DriveConnection>(standIn);
    const StorageSecrets keys = planted({QStringLiteral("http://127.0.0.1:9"), QStringLiteral("bucket"), {}, {}});

    const std::optional<ConnectionError> failure = await(connection->testStorage(keys));
    ASSERT_TRUE(failure);
    EXPECT_TRUE(failure->detail.contains(QStringLiteral("<redacted>"))) << "the stand-in did print the keys";
    collect(*failure);
    collectFailure(connection->checkPassphrase(plantedPassphrase, keys));
    collectFailure(connection->prepareNewDrive(plantedPassphrase, keys));
    collectFailure(connection->migrateRootIntoDrive(plantedPassphrase, keys));

    // The same failures as setup shows them, with their details.
    const auto keychain = std::make_shared<TestSupport::InMemoryKeychain>();
    SetupDeps deps;
    deps.connection = connection;
    deps.secrets = std::make_shared<KeychainSecretStore>(QStringLiteral("com.corvane.drive"), keychain);
    deps.saveSettings = [](const DriveSettings &) {};
    deps.startDrive = []() -> QCoro::Task<> { throw AppModelError(QStringLiteral("The drive couldn't start.")); };
    deps.enableStartAtLogin = [] { return true; };
    deps.setOrganisePending = [](std::optional<OrganiseKind>) {};
    deps.freeDiskBytes = [] { return qint64(0); };
    deps.send = [](HTTPRequest, CancelToken) -> QCoro::Task<HTTPResponse> {
        throw HTTPTransportError(QNetworkReply::HostNotFoundError, QStringLiteral("Host api.cloudflare.com not found"));
    };
    SetupState state(deps);
    state.chooseNewDrive();
    state.setEndpoint(QStringLiteral("https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com"));
    state.setBucket(keys.bucket);
    state.setCloudflareKey(plantedToken);
    await(state.next());
    collect(state);

    state.setUseCloudflareKey(false);
    state.setEndpoint(keys.endpoint);
    state.setAccessKeyID(plantedKeyID);
    state.setSecretAccessKey(plantedSecret);
    await(state.next());
    collect(state);

    setMode("lsf-ok");
    await(state.next());
    state.setPassphrase(plantedPassphrase);
    state.setConfirmPassphrase(plantedPassphrase);
    state.setAcknowledged(true);
    setMode("fail");
    await(state.next());
    collect(state);

    setMode("lsf-ok");
    await(state.next());
    ASSERT_EQ(state.step(), SetupStep{SetupStep::turnOnDrive});
    await(state.next());
    await(state.next()); // the new drive's preparation fails
    collect(state);
    keychain->fail(TestSupport::InMemoryKeychain::Call::update, QStringLiteral("drive"),
                   Keychain::interactionNotAllowed);
    await(state.next());
    collect(state);
}

TEST_F(SecretsInFailuresTest, PhoneMembersFailures)
{
    const auto keychain = std::make_shared<TestSupport::InMemoryKeychain>();
    const auto store = std::make_shared<KeychainSecretStore>(QStringLiteral("com.corvane.drive"), keychain);
    await(store->save(planted({QStringLiteral("https://e.example"), QStringLiteral("b"), {}, {}}), plantedPassphrase));
    await(store->saveCloudflareKey(plantedToken));
    const auto defaults = std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("defaults.json")));
    defaults->set(QStringLiteral("iPhoneSync"), true);

    class RefusingStore final : public PhoneSyncStoring {
    public:
        bool isAvailable() const override { return true; }
        QCoro::Task<> write(PhoneSyncItem) override
        {
            throw AppModelError(QStringLiteral("The phone copy couldn't be written (error -25308)."));
            co_return;
        }
        QCoro::Task<> remove() override { co_return; }
    };
    AppModelIPhone model(
        {[] { return DriveSettings{QStringLiteral("d"), 30, QUuid::createUuid(), QStringLiteral("m"), true}; }, store,
         defaults, [] { return QDateTime::currentDateTimeUtc(); }, std::make_shared<RefusingStore>()});
    collectFailure(model.iPhonePairingCode(plantedPassphrase + u'x'));
    collectFailure(model.setIPhoneSync(true, plantedPassphrase + u'x'));
    collectFailure(model.setIPhoneSync(true, plantedPassphrase));
    await(model.refreshIPhoneSync());
    EXPECT_EQ(log->messages().size(), 1) << "the failed refresh is logged";
}

} // namespace
