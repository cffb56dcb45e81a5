// The setup state machine with small stand-ins for the storage, the app and Cloudflare; the
// keys go into a keychain in memory. SetupStateFinishTest runs one whole setup for real.
#include "DriveCore/keys/SetupState.h"

#include "DriveCore/keys/RecoveryKit.h"
#include "DriveCore/support/AppModelError.h"
#include "DriveCore/support/Tasks.h"
#include "support/InMemoryKeychain.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace DriveCore;
using TestSupport::await;
using Call = TestSupport::InMemoryKeychain::Call;

namespace {

const QString pass20 = QStringLiteral("twenty characters!!!");
const QString r2Endpoint = QStringLiteral("https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com");

// Holds suspended callers until released.
class Gate {
public:
    QCoro::Task<> wait()
    {
        ++waiting;
        if (!open)
            co_await qCoro(&m_waker, &detail::Waker::fired);
        --waiting;
    }
    void release()
    {
        open = true;
        m_waker.fire();
    }

    bool open = true;
    int waiting = 0;

private:
    detail::Waker m_waker;
};

class FakeConnection final : public SetupConnecting {
public:
    std::function<std::optional<ConnectionError>(const StorageSecrets &)> storage = [](const StorageSecrets &) {
        return std::nullopt;
    };
    std::function<PassphraseCheck(const QString &)> check = [](const QString &) { return PassphraseCheck::newDrive; };
    std::function<void()> prepare = [] {};
    std::function<qint64()> migrate = [] { return 0; };
    Gate gate;
    QStringList calls;
    std::vector<StorageSecrets> testedSecrets;
    CancelToken lastToken;

    QCoro::Task<std::optional<ConnectionError>> testStorage(StorageSecrets secrets, CancelToken token) override
    {
        calls << QStringLiteral("testStorage");
        testedSecrets.push_back(secrets);
        lastToken = token;
        co_await gate.wait();
        co_return storage(secrets);
    }
    QCoro::Task<PassphraseCheck> checkPassphrase(QString passphrase, StorageSecrets, CancelToken) override
    {
        calls << QStringLiteral("checkPassphrase ") + passphrase;
        co_await gate.wait();
        co_return check(passphrase);
    }
    QCoro::Task<> prepareNewDrive(QString, StorageSecrets, CancelToken) override
    {
        calls << QStringLiteral("prepareNewDrive");
        co_await gate.wait();
        prepare();
    }
    QCoro::Task<qint64> migrateRootIntoDrive(QString, StorageSecrets, CancelToken) override
    {
        calls << QStringLiteral("migrateRootIntoDrive");
        co_await gate.wait();
        co_return migrate();
    }
};

// The app model's side of setup, recorded.
struct AppRecord {
    std::vector<DriveSettings> savedSettings;
    QStringList organise; // "newDrive", "existingDrive" or "none", in order
    int starts = 0;
    std::function<void()> startFails;
    bool loginItem = true;
    bool switchOn = true;
    Gate switchGate;
    QList<QByteArray> sentPaths;
    std::function<HTTPResponse(const HTTPRequest &)> cloudflare;
};

class SetupStateTest : public ::testing::Test {
protected:
    SetupDeps deps(qint64 freeBytes = 120'000'000'000)
    {
        SetupDeps d;
        d.connection = connection;
        d.secrets = store;
        d.saveSettings = [this](const DriveSettings &settings) { app.savedSettings.push_back(settings); };
        d.startDrive = [this]() -> QCoro::Task<> {
            ++app.starts;
            if (app.startFails)
                app.startFails();
            co_return;
        };
        d.enableStartAtLogin = [this] { return app.loginItem; };
        d.setOrganisePending = [this](std::optional<OrganiseKind> kind) {
            app.organise << (kind ? kind->rawValue() : QStringLiteral("none"));
        };
        d.freeDiskBytes = [freeBytes] { return freeBytes; };
        d.fullUserName = QStringLiteral("Ada Lovelace");
        d.deviceName = QStringLiteral("Ada's laptop");
        d.driveSwitchOn = [this]() -> QCoro::Task<bool> {
            co_await app.switchGate.wait();
            co_return app.switchOn;
        };
        d.send = [this](HTTPRequest request, CancelToken) -> QCoro::Task<HTTPResponse> {
            app.sentPaths << request.request.url().path().toUtf8();
            co_return app.cloudflare(request);
        };
        return d;
    }

    void fillKeys(SetupState &state, const QString &padding = {})
    {
        state.setUseCloudflareKey(false);
        state.setEndpoint(padding + QStringLiteral("http://127.0.0.1:9000") + padding);
        state.setBucket(padding + QStringLiteral("photos") + padding);
        state.setAccessKeyID(padding + QStringLiteral("AKID") + padding);
        state.setSecretAccessKey(padding + QStringLiteral("SECRET") + padding);
    }
    void choosePassphrase(SetupState &state, const QString &passphrase = pass20)
    {
        state.setPassphrase(passphrase);
        state.setConfirmPassphrase(passphrase);
        state.setAcknowledged(true);
    }
    // From welcome to the name step of a new (or existing) drive.
    void walkToName(SetupState &state, bool existing = false)
    {
        existing ? state.chooseExistingDrive() : state.chooseNewDrive();
        fillKeys(state);
        await(state.next());
        ASSERT_EQ(state.step(), SetupStep::passphraseStep(existing));
        choosePassphrase(state);
        await(state.next());
        ASSERT_EQ(state.step(), SetupStep{SetupStep::turnOnDrive})
            << (state.error() ? state.error()->text.toStdString() : "");
        await(state.next());
        ASSERT_EQ(state.step(), SetupStep{SetupStep::nameAndCache});
    }
    std::optional<QString> errorText(const SetupState &state)
    {
        return state.error() ? std::optional(state.error()->text) : std::nullopt;
    }

    std::shared_ptr<FakeConnection> connection = std::make_shared<FakeConnection>();
    std::shared_ptr<TestSupport::InMemoryKeychain> keychain = std::make_shared<TestSupport::InMemoryKeychain>();
    std::shared_ptr<KeychainSecretStore> store =
        std::make_shared<KeychainSecretStore>(QStringLiteral("com.corvane.drive"), keychain);
    AppRecord app;
};

TEST_F(SetupStateTest, StartsOnWelcomeWithDefaults)
{
    const SetupState state(deps());
    EXPECT_EQ(state.step(), SetupStep{SetupStep::welcome});
    EXPECT_EQ(state.storageEntry(), SetupState::StorageEntry::recoveryKit);
    EXPECT_TRUE(state.useCloudflareKey());
    EXPECT_FALSE(state.isBusy());
    EXPECT_FALSE(state.canGoBack());
    EXPECT_EQ(state.driveName(), QStringLiteral("Ovra")) << "the full name does not enter it";
    EXPECT_FALSE(state.deviceID().isNull());
    EXPECT_EQ(SetupState::defaultDriveName(QStringLiteral("Ada"), QStringLiteral("work")), QStringLiteral("Ovra work"));

    SetupDeps again = deps();
    again.existingSettings = DriveSettings{QStringLiteral("Old"), 10, QUuid::createUuid(), QStringLiteral("x"), true};
    EXPECT_EQ(SetupState(again).deviceID(), again.existingSettings->deviceID);
}

TEST_F(SetupStateTest, CacheSizeFollowsTheFreeSpace)
{
    struct Case {
        qint64 freeBytes;
        qint64 max;
        qint64 cache;
    };
    for (const Case c : {Case{20'999'999'999, 5, 5}, Case{-5, 5, 5}, Case{0, 5, 5}, Case{21'000'000'000, 5, 5},
                         Case{40'500'000'000, 20, 20}, Case{120'000'000'000, 100, 30}, Case{50'999'999'999, 30, 30}}) {
        const SetupState state(deps(c.freeBytes));
        EXPECT_EQ(state.maxCacheGB(), c.max) << c.freeBytes;
        EXPECT_EQ(state.cacheGB(), c.cache) << c.freeBytes;
    }
}

TEST_F(SetupStateTest, GeneratedPassphrasesUseTheWholeAlphabetEvenly)
{
    SetupState state(deps());
    state.generate();
    EXPECT_EQ(state.passphrase().size(), 24);
    EXPECT_EQ(state.passphrase(), state.confirmPassphrase());

    QMap<QChar, int> counts;
    constexpr int passphrases = 3000;
    for (int i = 0; i < passphrases; ++i) {
        const QString generated = SetupState::generatePassphrase();
        ASSERT_EQ(generated.size(), 24);
        for (const QChar c : generated)
            ++counts[c];
    }
    EXPECT_EQ(counts.size(), 56);
    const double expected = passphrases * 24.0 / 56.0; // about 1286
    for (auto it = counts.begin(); it != counts.end(); ++it) {
        EXPECT_TRUE(SetupState::passphraseAlphabet.contains(it.key())) << QString(it.key()).toStdString();
        EXPECT_NEAR(it.value(), expected, expected * 0.15) << QString(it.key()).toStdString();
    }
}

TEST_F(SetupStateTest, NewDriveFromWelcomeToDone)
{
    SetupState state(deps());
    int changes = 0;
    QObject::connect(&state, &SetupState::changed, [&] { ++changes; });
    state.chooseNewDrive();
    EXPECT_EQ(state.step(), SetupStep::storageStep(false));
    EXPECT_TRUE(state.canGoBack());

    fillKeys(state, QStringLiteral(" \n"));
    await(state.next());
    ASSERT_EQ(state.step(), SetupStep::passphraseStep(false));
    ASSERT_EQ(connection->testedSecrets.size(), 1u);
    EXPECT_EQ(connection->testedSecrets[0],
              (StorageSecrets{QStringLiteral("http://127.0.0.1:9000"), QStringLiteral("photos"), QStringLiteral("AKID"),
                              QStringLiteral("SECRET")}));

    // The passphrase is used exactly as typed.
    choosePassphrase(state, QStringLiteral(" ") + pass20);
    await(state.next());
    EXPECT_EQ(connection->calls.last(), QStringLiteral("checkPassphrase  ") + pass20);
    ASSERT_EQ(state.step(), SetupStep{SetupStep::turnOnDrive});
    await(state.next());
    ASSERT_EQ(state.step(), SetupStep{SetupStep::nameAndCache});

    state.setDriveName(QStringLiteral("  My Drive \n"));
    state.setCacheGB(500);
    await(state.next());
    ASSERT_EQ(state.step().kind, SetupStep::recoveryKit) << (state.error() ? state.error()->text.toStdString() : "");
    EXPECT_FALSE(state.isBusy());
    EXPECT_FALSE(state.canGoBack());
    EXPECT_EQ(state.loginNote(), std::nullopt);

    ASSERT_EQ(app.savedSettings.size(), 1u);
    EXPECT_EQ(app.savedSettings[0],
              (DriveSettings{QStringLiteral("My Drive"), 100, state.deviceID(), QStringLiteral("Ada's laptop"), true}));
    EXPECT_EQ(app.organise, (QStringList{"newDrive", "none"}));
    EXPECT_EQ(app.starts, 1);
    EXPECT_EQ(connection->calls.mid(2), (QStringList{QStringLiteral("checkPassphrase  ") + pass20, "prepareNewDrive"}));
    const auto keys = await(store->load());
    ASSERT_TRUE(keys);
    EXPECT_EQ(keys->first.accessKeyID, QStringLiteral("AKID"));
    EXPECT_EQ(keys->second, QStringLiteral(" ") + pass20);

    const RecoveryKitPayload payload = RecoveryKit::decode(state.step().code, QStringLiteral(" ") + pass20);
    EXPECT_EQ(payload, RecoveryKitPayload::make(keys->first, QStringLiteral("My Drive")));

    state.closeRecoveryKit();
    EXPECT_EQ(state.step(), SetupStep{SetupStep::done});
    for (const QString &secret : {state.passphrase(), state.confirmPassphrase(), state.secretAccessKey(),
                                  state.accessKeyID(), state.cloudflareKey(), state.recoveryKitCode()})
        EXPECT_TRUE(secret.isEmpty());
    EXPECT_FALSE(state.endpoint().isEmpty());
    EXPECT_FALSE(state.bucket().isEmpty());
    EXPECT_GT(changes, 10);
}

TEST_F(SetupStateTest, StorageStepShowsSetupsOwnWordsForEachFailure)
{
    struct Case {
        std::optional<ConnectionError> failure;
        SetupMessage expected;
    };
    const std::vector<Case> cases{
        {ConnectionError(ConnectionError::badKeys), {ConnectionError::badKeysText, std::nullopt}},
        {ConnectionError(ConnectionError::bucketNotFound), {ConnectionError::bucketNotFoundText, std::nullopt}},
        {ConnectionError(ConnectionError::offline), {ConnectionError::offlineText, std::nullopt}},
        {ConnectionError(ConnectionError::other, QStringLiteral("ERROR : odd")),
         {SetupState::connectionOtherText, QStringLiteral("ERROR : odd")}},
        {ConnectionError(ConnectionError::other), {SetupState::connectionOtherText, std::nullopt}},
    };
    SetupState state(deps());
    state.chooseNewDrive();
    fillKeys(state);
    for (const Case &c : cases) {
        connection->storage = [&](const StorageSecrets &) { return c.failure; };
        await(state.next());
        EXPECT_EQ(state.error(), c.expected) << c.expected.text.toStdString();
        EXPECT_EQ(state.step(), SetupStep::storageStep(false));
        EXPECT_FALSE(state.isBusy());
    }

    state.setAccessKeyID(QStringLiteral("  "));
    await(state.next());
    EXPECT_EQ(errorText(state), SetupState::missingStorageText);
    EXPECT_EQ(connection->calls.size(), cases.size()) << "an empty field is not tested";
}

TEST_F(SetupStateTest, PassphraseRules)
{
    struct Case {
        bool existing;
        QString passphrase;
        QString confirm;
        bool ticked;
        std::optional<QString> error; // none: the check runs
    };
    // Twenty accented letters, each an e and a combining accent: 40 code units, 20 characters.
    const QString accented = QString(QStringLiteral("e\u0301")).repeated(20);
    const std::vector<Case> cases{
        {false, pass20.left(19), pass20.left(19), true, SetupState::shortPassphraseText},
        {false, accented.left(38), accented.left(38), true, SetupState::shortPassphraseText},
        {false, accented, accented, true, std::nullopt},
        {false, pass20, pass20 + QStringLiteral("x"), true, SetupState::mismatchText},
        {false, pass20, pass20, false, SetupState::mustTickMissingText},
        {false, pass20, pass20, true, std::nullopt},
        {true, {}, {}, true, SetupState::missingPassphraseText},
        {true, QStringLiteral("x"), {}, false, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.passphrase.toStdString());
        connection = std::make_shared<FakeConnection>();
        connection->check = [&](const QString &) {
            return c.existing ? PassphraseCheck::correct : PassphraseCheck::newDrive;
        };
        SetupState state(deps());
        c.existing ? state.chooseExistingDrive() : state.chooseNewDrive();
        fillKeys(state);
        await(state.next());
        state.setPassphrase(c.passphrase);
        state.setConfirmPassphrase(c.confirm);
        state.setAcknowledged(c.ticked);
        await(state.next());
        EXPECT_EQ(errorText(state), c.error);
        EXPECT_EQ(state.step().kind, c.error ? SetupStep::passphrase : SetupStep::turnOnDrive);
    }
}

TEST_F(SetupStateTest, PassphraseCheckAnswers)
{
    struct Case {
        bool existing;
        std::function<PassphraseCheck(const QString &)> check;
        std::optional<SetupMessage> error;
    };
    const auto answer = [](PassphraseCheck check) { return [check](const QString &) { return check; }; };
    const std::vector<Case> cases{
        {false, answer(PassphraseCheck::newDrive), std::nullopt},
        {false, answer(PassphraseCheck::correct), SetupMessage{SetupState::storageNotEmptyText, std::nullopt}},
        {false, answer(PassphraseCheck::wrong), SetupMessage{SetupState::storageNotEmptyText, std::nullopt}},
        {true, answer(PassphraseCheck::correct), std::nullopt},
        {true, answer(PassphraseCheck::newDrive), SetupMessage{SetupState::storageEmptyText, std::nullopt}},
        {true, answer(PassphraseCheck::wrong), SetupMessage{SetupState::wrongPassphraseText, std::nullopt}},
        {true, [](const QString &) -> PassphraseCheck { throw ConnectionError(ConnectionError::offline); },
         SetupMessage{ConnectionError::offlineText, std::nullopt}},
        {true,
         [](const QString &) -> PassphraseCheck {
             throw ConnectionError(ConnectionError::other, QStringLiteral("boom"));
         },
         SetupMessage{SetupState::connectionOtherText, QStringLiteral("boom")}},
        {true, [](const QString &) -> PassphraseCheck { throw std::runtime_error("Could not start /x: gone"); },
         SetupMessage{SetupState::unexpectedText, QStringLiteral("Could not start /x: gone")}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const Case &c = cases[i];
        connection->check = c.check;
        SetupState state(deps());
        c.existing ? state.chooseExistingDrive() : state.chooseNewDrive();
        fillKeys(state);
        await(state.next());
        choosePassphrase(state);
        await(state.next());
        EXPECT_EQ(state.error(), c.error);
        EXPECT_EQ(state.step().kind, c.error ? SetupStep::passphrase : SetupStep::turnOnDrive);
        EXPECT_FALSE(state.isBusy());
    }
}

TEST_F(SetupStateTest, GoingBackDropsTheChecksThatFollowed)
{
    SetupState state(deps());
    walkToName(state);
    EXPECT_TRUE(state.canGoBack());
    state.back();
    EXPECT_EQ(state.step(), SetupStep::passphraseStep(false));
    state.back();
    EXPECT_EQ(state.step(), SetupStep::storageStep(false));
    state.back();
    EXPECT_EQ(state.step(), SetupStep{SetupStep::welcome});

    // Forward again: the storage test runs again before the passphrase can be checked.
    state.chooseNewDrive();
    await(state.next());
    await(state.next());
    EXPECT_EQ(connection->calls.filter(QStringLiteral("testStorage")).size(), 2);
    EXPECT_EQ(state.step(), SetupStep{SetupStep::turnOnDrive});

    // From the name step back to the passphrase: the finish refuses until it is checked again.
    await(state.next());
    state.back();
    state.chooseNewDrive(); // jumps to storage without a test
    EXPECT_EQ(state.step(), SetupStep::storageStep(false));
}

TEST_F(SetupStateTest, PressingTheButtonTwiceStartsOneCheck)
{
    SetupState state(deps());
    state.chooseNewDrive();
    fillKeys(state);
    connection->gate.open = false;
    QCoro::Task<> first = state.next();
    EXPECT_EQ(state.busyText(), SetupState::testingBusyText);
    EXPECT_FALSE(state.canGoBack());
    await(state.next());
    EXPECT_FALSE(await(state.applyRecoveryKit()));
    state.back();
    EXPECT_EQ(state.step(), SetupStep::storageStep(false));
    connection->gate.release();
    await(std::move(first));
    EXPECT_EQ(connection->calls, QStringList{"testStorage"});
    EXPECT_EQ(state.step(), SetupStep::passphraseStep(false));
}

TEST_F(SetupStateTest, TurnOnStepHoldsTheBusyGuardWhileItWaitsForTheSwitch)
{
    SetupState state(deps());
    state.chooseNewDrive();
    fillKeys(state);
    await(state.next());
    choosePassphrase(state);
    await(state.next());
    ASSERT_EQ(state.step(), SetupStep{SetupStep::turnOnDrive});

    app.switchGate.open = false;
    QCoro::Task<> waiting = state.next();
    EXPECT_TRUE(state.isBusy());
    EXPECT_FALSE(state.canGoBack());
    state.back(); // must not jump while the answer is out
    await(state.checkDriveSwitch());
    EXPECT_EQ(state.step(), SetupStep{SetupStep::turnOnDrive});
    app.switchGate.release();
    await(std::move(waiting));
    EXPECT_FALSE(state.isBusy());
    EXPECT_EQ(state.step(), SetupStep{SetupStep::nameAndCache});

    // Off: the step stays with the sentence; the screen's own polling sets no error.
    state.back();
    await(state.next());
    ASSERT_EQ(state.step(), SetupStep{SetupStep::turnOnDrive});
    app.switchOn = false;
    await(state.checkDriveSwitch());
    EXPECT_EQ(state.error(), std::nullopt);
    await(state.next());
    EXPECT_EQ(state.error(), (SetupMessage{SetupState::driveSwitchOffText, std::nullopt}));
    app.switchOn = true;
    await(state.checkDriveSwitch());
    EXPECT_EQ(state.step(), SetupStep{SetupStep::nameAndCache});
}

TEST_F(SetupStateTest, CloudflareTokenIsSavedOnlyWhenItsOwnStorageTestPassed)
{
    app.cloudflare = [](const HTTPRequest &) {
        return HTTPResponse{R"({"success":true,"result":{"id":"abc123","status":"active"}})", 200};
    };
    // After a failed storage test the user tries the token again, or types the keys it gave.
    for (const bool retryToken : {true, false}) {
        SCOPED_TRACE(retryToken);
        store = std::make_shared<KeychainSecretStore>(QStringLiteral("com.corvane.drive"),
                                                      std::make_shared<TestSupport::InMemoryKeychain>());
        SetupState state(deps());
        state.chooseNewDrive();
        state.setEndpoint(r2Endpoint);
        state.setBucket(QStringLiteral(" photos "));
        state.setCloudflareKey(QStringLiteral(" the-token\n"));
        connection->storage = [](const StorageSecrets &) { return ConnectionError(ConnectionError::badKeys); };
        await(state.next());
        EXPECT_EQ(errorText(state), ConnectionError::badKeysText);
        EXPECT_EQ(state.accessKeyID(), QStringLiteral("abc123"));
        EXPECT_EQ(state.secretAccessKey().size(), 64);
        EXPECT_EQ(state.bucket(), QStringLiteral(" photos ")) << "kept as typed";

        connection->storage = [](const StorageSecrets &) { return std::nullopt; };
        state.setUseCloudflareKey(retryToken);
        await(state.next());
        ASSERT_EQ(state.step(), SetupStep::passphraseStep(false));
        choosePassphrase(state);
        await(state.next());
        await(state.next());
        await(state.next());
        ASSERT_EQ(state.step().kind, SetupStep::recoveryKit);
        EXPECT_EQ(await(store->loadCloudflareKey()),
                  retryToken ? std::optional(QStringLiteral("the-token")) : std::nullopt);
    }
}

TEST_F(SetupStateTest, CloudflareTokenFailures)
{
    struct Case {
        QString endpoint;
        QString token;
        std::function<HTTPResponse(const HTTPRequest &)> answer;
        SetupMessage expected;
    };
    const auto unknown = [](const HTTPRequest &) { return HTTPResponse{R"({"success":false})", 401}; };
    const std::vector<Case> cases{
        {r2Endpoint, {}, unknown, {SetupState::missingCloudflareKeyText, std::nullopt}},
        {QStringLiteral("https://s3.example.com"),
         QStringLiteral("t"),
         unknown,
         {SetupState::notCloudflareText, std::nullopt}},
        {r2Endpoint, QStringLiteral("t"), unknown, {SetupState::unknownCloudflareKeyText, std::nullopt}},
        {r2Endpoint,
         QStringLiteral("t"),
         [](const HTTPRequest &) -> HTTPResponse {
             throw HTTPTransportError(QNetworkReply::HostNotFoundError, QStringLiteral("Host not found"));
         },
         {SetupState::connectionOtherText, QStringLiteral("Host not found")}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.expected.text.toStdString());
        app.cloudflare = c.answer;
        SetupState state(deps());
        state.chooseNewDrive();
        state.setEndpoint(c.endpoint);
        state.setBucket(QStringLiteral("photos"));
        state.setCloudflareKey(c.token);
        await(state.next());
        EXPECT_EQ(state.error(), c.expected);
        EXPECT_FALSE(state.isBusy());
        EXPECT_TRUE(connection->calls.isEmpty());
    }
}

TEST_F(SetupStateTest, RecoveryKitFillsTheStorageFields)
{
    RecoveryKitPayload payload = RecoveryKitPayload::make(
        StorageSecrets{r2Endpoint, QStringLiteral("photos"), QStringLiteral("AKID"), QStringLiteral("SECRET")},
        QStringLiteral("Kit drive"));
    payload.cloudflareKey = QStringLiteral("kit-token");
    const QString code = RecoveryKit::encode(payload, pass20);

    SetupState state(deps());
    state.chooseExistingDrive();
    struct Case {
        QString code;
        QString passphrase;
        QString error;
    };
    for (const Case &c : {Case{code, pass20 + u' ', SetupState::kitWrongPassphraseText},
                          Case{code.left(30), pass20, SetupState::kitBadFormatText},
                          Case{QStringLiteral("hello"), pass20, SetupState::kitBadFormatText}}) {
        state.setRecoveryKitCode(c.code);
        state.setRecoveryKitPassphrase(c.passphrase);
        EXPECT_FALSE(await(state.applyRecoveryKit()));
        EXPECT_EQ(state.error(), (SetupMessage{c.error, std::nullopt}));
        EXPECT_FALSE(state.isBusy());
    }

    state.setRecoveryKitCode(QStringLiteral("  ") + code.left(40) + QStringLiteral("\n") + code.mid(40));
    state.setRecoveryKitPassphrase(pass20);
    EXPECT_TRUE(await(state.applyRecoveryKit()));
    EXPECT_EQ(state.error(), std::nullopt);
    EXPECT_EQ(state.storageSecrets(),
              (StorageSecrets{r2Endpoint, QStringLiteral("photos"), QStringLiteral("AKID"), QStringLiteral("SECRET")}));
    EXPECT_FALSE(state.useCloudflareKey());
    EXPECT_EQ(state.storageEntry(), SetupState::StorageEntry::manual);
    EXPECT_EQ(state.passphrase(), pass20);
    EXPECT_EQ(state.cloudflareKey(), QString()) << "the kit's token is not applied";
    EXPECT_EQ(state.driveName(), QStringLiteral("Ovra")) << "nor its drive name";
    EXPECT_EQ(state.step(), SetupStep::storageStep(true)) << "nothing is tested yet";
    EXPECT_TRUE(connection->calls.isEmpty());
}

TEST_F(SetupStateTest, DriveNameRules)
{
    SetupState state(deps());
    walkToName(state);
    for (const auto &[name, error] : {std::pair{QStringLiteral(" \n "), SetupState::missingNameText},
                                      std::pair{QStringLiteral("a/b"), SetupState::badNameText},
                                      std::pair{QStringLiteral("Photos:2"), SetupState::badNameText}}) {
        state.setDriveName(name);
        await(state.next());
        EXPECT_EQ(state.error(), (SetupMessage{error, std::nullopt})) << name.toStdString();
        EXPECT_TRUE(state.canGoBack()) << "the checks do not begin the finish";
    }
    EXPECT_TRUE(keychain->calls().isEmpty());

    state.setDriveName(QStringLiteral("Small"));
    state.setCacheGB(1);
    await(state.next());
    ASSERT_EQ(app.savedSettings.size(), 1u);
    EXPECT_EQ(app.savedSettings[0].cacheGB, 5);
}

TEST_F(SetupStateTest, FinishResumesAfterTheLastStepThatSucceeded)
{
    SetupState state(deps());
    walkToName(state);

    // The organise step fails: it stays recorded and the next press saves the keys again.
    connection->prepare = [] { throw ConnectionError(ConnectionError::offline); };
    await(state.next());
    EXPECT_EQ(state.error(), (SetupMessage{ConnectionError::offlineText, std::nullopt}));
    EXPECT_EQ(state.step(), SetupStep{SetupStep::nameAndCache});
    EXPECT_FALSE(state.canGoBack()) << "no way back once the finish began";
    EXPECT_EQ(app.organise, QStringList{"newDrive"});

    // The bucket now holds our own check object: no second preparation.
    connection->check = [](const QString &) { return PassphraseCheck::correct; };
    app.startFails = [] { throw AppModelError(QStringLiteral("The drive couldn't start.")); };
    state.setDriveName(QStringLiteral("Renamed"));
    await(state.next());
    EXPECT_EQ(state.error(), (SetupMessage{QStringLiteral("The drive couldn't start."), std::nullopt}));
    EXPECT_EQ(app.organise, (QStringList{"newDrive", "newDrive", "none"}));
    EXPECT_EQ(connection->calls.filter(QStringLiteral("prepareNewDrive")).size(), 1);
    EXPECT_EQ(app.savedSettings.size(), 2u);
    EXPECT_EQ(app.savedSettings.back().driveName, QStringLiteral("Renamed"));

    // The start fails no more: keys are saved again, the organise step is not repeated.
    app.startFails = {};
    app.loginItem = false;
    const qsizetype checks = connection->calls.size();
    await(state.next());
    ASSERT_EQ(state.step().kind, SetupStep::recoveryKit);
    EXPECT_EQ(connection->calls.size(), checks);
    EXPECT_EQ(app.starts, 2);
    EXPECT_EQ(app.savedSettings.size(), 3u);
    EXPECT_EQ(state.loginNote(), SetupState::loginFailedText);
}

TEST_F(SetupStateTest, FinishFailures)
{
    struct Case {
        const char *name;
        bool existing;
        std::function<void()> arrange;
        SetupMessage expected;
    };
    const std::vector<Case> cases{
        {"a bucket that is not empty any more",
         false,
         [this] { connection->check = [](const QString &) { return PassphraseCheck::correct; }; },
         {SetupState::storageNotEmptyText, std::nullopt}},
        {"keys refused by the keychain",
         false,
         [this] { keychain->fail(Call::add, QStringLiteral("drive"), Keychain::interactionNotAllowed); },
         {SetupState::keysNotSavedText, KeychainError(Keychain::interactionNotAllowed).description()}},
        {"an unconfirmed passphrase",
         true,
         [this] { connection->migrate = []() -> qint64 { throw PassphraseNotConfirmed(); }; },
         {PassphraseNotConfirmed::messageText, std::nullopt}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        connection = std::make_shared<FakeConnection>();
        keychain = std::make_shared<TestSupport::InMemoryKeychain>();
        store = std::make_shared<KeychainSecretStore>(QStringLiteral("com.corvane.drive"), keychain);
        app.organise.clear();
        connection->check = [&](const QString &) {
            return c.existing ? PassphraseCheck::correct : PassphraseCheck::newDrive;
        };
        SetupState state(deps());
        walkToName(state, c.existing);
        c.arrange();
        await(state.next());
        EXPECT_EQ(state.error(), c.expected);
        EXPECT_EQ(state.step(), SetupStep{SetupStep::nameAndCache});
        EXPECT_FALSE(state.isBusy());
    }
    EXPECT_EQ(app.organise, QStringList{"existingDrive"}) << "a failed organise step stays recorded";
}

TEST_F(SetupStateTest, DestroyedWhileACheckRunsEndsQuietlyAndInterruptsIt)
{
    auto state = std::make_unique<SetupState>(deps());
    state->chooseNewDrive();
    fillKeys(*state);
    connection->gate.open = false;
    QCoro::Task<> pending = state->next();
    ASSERT_EQ(connection->gate.waiting, 1);
    state.reset();
    EXPECT_TRUE(connection->lastToken.stop_requested());
    connection->gate.release();
    await(std::move(pending));
}

} // namespace
