#include "DriveCore/keys/SetupState.h"

#include "DriveCore/keys/CloudflareKey.h"
#include "DriveCore/keys/RecoveryKit.h"
#include "DriveCore/platform/Crypto.h"
#include "DriveCore/support/AppModelError.h"
#include "DriveCore/support/Graphemes.h"
#include "DriveCore/support/Log.h"
#include "DriveCore/support/Tasks.h"
#include "DriveCore/support/Threads.h"
#include "DriveCore/support/UserError.h"

#include <cstring>

namespace DriveCore {

namespace {

const Log log("setup");

// The cause of the failure being handled, for the log.
QString cause()
{
    return errorText(std::current_exception()).value_or(QStringLiteral("cancelled"));
}

constexpr qint64 minCacheGB = 5;
constexpr qint64 proposedCacheGB = 30;

bool anyEmpty(const StorageSecrets &secrets)
{
    return secrets.endpoint.isEmpty() || secrets.bucket.isEmpty() || secrets.accessKeyID.isEmpty()
        || secrets.secretAccessKey.isEmpty();
}

} // namespace

SetupState::SetupState(SetupDeps deps, QObject *parent)
    : QObject(parent), m_deps(std::move(deps)),
      m_deviceID(m_deps.existingSettings ? m_deps.existingSettings->deviceID : QUuid::createUuid())
{
    m_driveName = defaultDriveName(m_deps.fullUserName);
    m_maxCacheGB = maxCacheGB(m_deps.freeDiskBytes());
    m_cacheGB = std::min(m_maxCacheGB, proposedCacheGB);
}

SetupState::~SetupState()
{
    m_cancel.request_stop();
}

QString SetupState::defaultDriveName(const QString &, const std::optional<QString> &profile)
{
    return profile ? QStringLiteral("Ovra ") + *profile : QStringLiteral("Ovra");
}

QString SetupState::generatePassphrase()
{
    static const QString alphabet = passphraseAlphabet;
    const uint64_t count = uint64_t(alphabet.size());
    // Lemire's bounded draw: a product whose low half falls below 2^64 mod count would favour
    // some characters, so it is drawn again.
    const uint64_t threshold = (0 - count) % count;
    QString result;
    result.reserve(generatedLength);
    while (result.size() < generatedLength) {
        const QByteArray bytes = Crypto::randomBytes(sizeof(uint64_t));
        uint64_t random = 0;
        std::memcpy(&random, bytes.constData(), sizeof random);
        const unsigned __int128 product = static_cast<unsigned __int128>(random) * count;
        if (uint64_t(product) < threshold)
            continue;
        result.append(alphabet.at(qsizetype(product >> 64)));
    }
    return result;
}

qint64 SetupState::maxCacheGB(qint64 freeBytes)
{
    const qint64 spare = freeBytes - 20'000'000'000;
    if (spare < 1'000'000'000)
        return minCacheGB;
    return std::max(spare / 1'000'000'000, minCacheGB);
}

SetupMessage SetupState::message(const ConnectionError &error)
{
    switch (error.value) {
    case ConnectionError::badKeys:
        return {ConnectionError::badKeysText, std::nullopt};
    case ConnectionError::bucketNotFound:
        return {ConnectionError::bucketNotFoundText, std::nullopt};
    case ConnectionError::offline:
        return {ConnectionError::offlineText, std::nullopt};
    case ConnectionError::other:
        break;
    }
    return {connectionOtherText, error.detail.isEmpty() ? std::nullopt : std::optional(error.detail)};
}

SetupMessage SetupState::message(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const SetupFailure &failure) {
        return failure.message;
    } catch (const ConnectionError &connection) {
        return message(connection);
    } catch (const PassphraseNotConfirmed &notConfirmed) {
        return {notConfirmed.message, std::nullopt};
    } catch (const AppModelError &model) {
        return {model.message, std::nullopt};
    } catch (...) {
        return {unexpectedText, errorText(std::current_exception())};
    }
}

StorageSecrets SetupState::storageSecrets() const
{
    return {m_endpoint.trimmed(), m_bucket.trimmed(), m_accessKeyID.trimmed(), m_secretAccessKey.trimmed()};
}

void SetupState::go(const SetupStep &target)
{
    setError(std::nullopt);
    if (target.kind == SetupStep::storage || target.kind == SetupStep::welcome) {
        m_storageVerified = false;
        m_passphraseVerified = false;
    } else if (target.kind == SetupStep::passphrase) {
        m_passphraseVerified = false;
    }
    update(m_step, target);
}

void SetupState::chooseNewDrive()
{
    m_existingDrive = false;
    go(SetupStep::storageStep(false));
}

void SetupState::chooseExistingDrive()
{
    m_existingDrive = true;
    go(SetupStep::storageStep(true));
}

bool SetupState::canGoBack() const
{
    if (isBusy() || m_finishBegan)
        return false;
    switch (m_step.kind) {
    case SetupStep::storage:
    case SetupStep::passphrase:
    case SetupStep::turnOnDrive:
    case SetupStep::nameAndCache:
        return true;
    case SetupStep::welcome:
    case SetupStep::recoveryKit:
    case SetupStep::done:
        return false;
    }
    return false;
}

void SetupState::back()
{
    if (!canGoBack())
        return;
    switch (m_step.kind) {
    case SetupStep::storage:
        go(SetupStep{});
        break;
    case SetupStep::passphrase:
        go(SetupStep::storageStep(m_step.existing));
        break;
    case SetupStep::turnOnDrive:
    case SetupStep::nameAndCache:
        go(SetupStep::passphraseStep(m_existingDrive));
        break;
    default:
        break;
    }
}

void SetupState::generate()
{
    const QString generated = generatePassphrase();
    setPassphrase(generated);
    setConfirmPassphrase(generated);
}

QCoro::Task<bool> SetupState::applyRecoveryKit()
{
    if (isBusy())
        co_return false;
    setError(std::nullopt);
    setBusy(openingKitBusyText);
    const QString code = m_recoveryKitCode;
    const QString passphrase = m_recoveryKitPassphrase;
    std::optional<RecoveryKitPayload> payload;
    std::optional<QString> failure;
    try {
        payload = co_await whileAlive(QPointer(this),
                                      runInPool([code, passphrase] { return RecoveryKit::decode(code, passphrase); }));
    } catch (const OwnerGone &) {
        co_return false;
    } catch (const RecoveryKitError &error) {
        failure = error.code == RecoveryKitError::wrongPassphrase ? kitWrongPassphraseText : kitBadFormatText;
    } catch (...) {
        failure = kitBadFormatText;
    }
    if (failure) {
        setError(SetupMessage{*failure, std::nullopt});
        setBusy(std::nullopt);
        co_return false;
    }
    // The kit's drive name and token are not applied; the storage step tests the keys next.
    setEndpoint(payload->endpoint);
    setBucket(payload->bucket);
    setAccessKeyID(payload->accessKeyID);
    setSecretAccessKey(payload->secretAccessKey);
    setUseCloudflareKey(false);
    setPassphrase(passphrase);
    setStorageEntry(StorageEntry::manual);
    setBusy(std::nullopt);
    co_return true;
}

QCoro::Task<> SetupState::next()
{
    if (isBusy())
        co_return;
    setError(std::nullopt);
    try {
        switch (m_step.kind) {
        case SetupStep::storage:
            co_await nextFromStorage(m_step.existing);
            break;
        case SetupStep::passphrase:
            co_await nextFromPassphrase(m_step.existing);
            break;
        case SetupStep::recoveryKit:
            closeRecoveryKit();
            break;
        case SetupStep::turnOnDrive:
            co_await nextFromTurnOnDrive();
            break;
        case SetupStep::nameAndCache:
            co_await finish();
            break;
        case SetupStep::welcome:
        case SetupStep::done:
            break;
        }
    } catch (const OwnerGone &) {
        // The window went away; nothing is left to update.
    }
}

QCoro::Task<> SetupState::checkDriveSwitch()
{
    if (m_step.kind != SetupStep::turnOnDrive || isBusy())
        co_return;
    bool on = false;
    try {
        on = co_await whileAlive(QPointer(this), m_deps.driveSwitchOn());
    } catch (const OwnerGone &) {
        co_return;
    } catch (...) {
        // An answer that fails counts as off; the screen asks again.
        log.info("Asking whether the drive is switched on failed: %{public}s", cause());
    }
    if (on && m_step.kind == SetupStep::turnOnDrive)
        go(SetupStep{SetupStep::nameAndCache});
}

void SetupState::closeRecoveryKit()
{
    if (m_step.kind != SetupStep::recoveryKit)
        return;
    update(m_step, SetupStep{SetupStep::done});
    setPassphrase({});
    setConfirmPassphrase({});
    setRecoveryKitPassphrase({});
    setRecoveryKitCode({});
    setSecretAccessKey({});
    setAccessKeyID({});
    setCloudflareKey({});
}

QCoro::Task<> SetupState::nextFromStorage(bool existing)
{
    m_verifiedCloudflareKey.reset();
    if (!m_useCloudflareKey) {
        if (anyEmpty(storageSecrets())) {
            setError(SetupMessage{missingStorageText, std::nullopt});
            co_return;
        }
        co_await testStorage(existing);
        co_return;
    }

    const QString token = m_cloudflareKey.trimmed();
    const QString endpoint = m_endpoint.trimmed();
    const QString bucket = m_bucket.trimmed();
    if (token.isEmpty() || endpoint.isEmpty() || bucket.isEmpty()) {
        setError(SetupMessage{missingCloudflareKeyText, std::nullopt});
        co_return;
    }
    setBusy(checkingTokenBusyText);
    std::optional<SetupMessage> failure;
    try {
        const StorageSecrets derived = co_await whileAlive(
            QPointer(this),
            CloudflareKey::storageSecrets(token, endpoint, bucket, m_deps.send,
                                          QUrl(QLatin1String(CloudflareKey::apiBase)), this->token()));
        // Endpoint and bucket keep what the user typed.
        setAccessKeyID(derived.accessKeyID);
        setSecretAccessKey(derived.secretAccessKey);
        co_await testStorage(existing);
        if (m_storageVerified)
            m_verifiedCloudflareKey = token;
    } catch (const OwnerGone &) {
        throw;
    } catch (const CloudflareKey::Failure &error) {
        failure =
            SetupMessage{error == CloudflareKey::Failure::notCloudflare ? notCloudflareText : unknownCloudflareKeyText,
                         std::nullopt};
    } catch (...) {
        failure = SetupMessage{connectionOtherText, errorText(std::current_exception())};
    }
    if (failure)
        setError(failure);
    setBusy(std::nullopt);
}

QCoro::Task<> SetupState::testStorage(bool existing)
{
    setBusy(testingBusyText);
    const std::shared_ptr<SetupConnecting> connection = m_deps.connection;
    const std::optional<ConnectionError> failure =
        co_await whileAlive(QPointer(this), connection->testStorage(storageSecrets(), token()));
    if (failure) {
        setError(message(*failure));
    } else {
        go(SetupStep::passphraseStep(existing));
        m_storageVerified = true;
    }
    setBusy(std::nullopt);
}

QCoro::Task<> SetupState::nextFromPassphrase(bool existing)
{
    if (!existing) {
        std::optional<QString> problem;
        if (Graphemes::count(m_passphrase) < minPassphraseLength)
            problem = shortPassphraseText;
        else if (m_passphrase != m_confirmPassphrase)
            problem = mismatchText;
        else if (!m_acknowledged)
            problem = mustTickMissingText;
        if (problem) {
            setError(SetupMessage{*problem, std::nullopt});
            co_return;
        }
    } else if (m_passphrase.isEmpty()) {
        // No length rule: an existing drive's passphrase is whatever it was made with.
        setError(SetupMessage{missingPassphraseText, std::nullopt});
        co_return;
    }
    if (!m_storageVerified) {
        go(SetupStep::storageStep(existing));
        co_return;
    }

    setBusy(checkingPassphraseBusyText);
    const std::shared_ptr<SetupConnecting> connection = m_deps.connection;
    std::optional<SetupMessage> failure;
    try {
        // The passphrase exactly as typed: never trimmed.
        const PassphraseCheck check =
            co_await whileAlive(QPointer(this), connection->checkPassphrase(m_passphrase, storageSecrets(), token()));
        if (!existing && check != PassphraseCheck::newDrive)
            failure = SetupMessage{storageNotEmptyText, std::nullopt};
        else if (existing && check == PassphraseCheck::newDrive)
            failure = SetupMessage{storageEmptyText, std::nullopt};
        else if (existing && check == PassphraseCheck::wrong)
            failure = SetupMessage{wrongPassphraseText, std::nullopt};
    } catch (const OwnerGone &) {
        throw;
    } catch (...) {
        failure = message(std::current_exception());
    }
    if (failure) {
        setError(failure);
    } else {
        go(SetupStep{SetupStep::turnOnDrive});
        m_passphraseVerified = true;
    }
    setBusy(std::nullopt);
}

QCoro::Task<> SetupState::nextFromTurnOnDrive()
{
    // Busy for the whole wait, so a back() meanwhile cannot land on another step. The wait has
    // no text of its own.
    setBusy(QString());
    bool on = false;
    try {
        on = co_await whileAlive(QPointer(this), m_deps.driveSwitchOn());
    } catch (const OwnerGone &) {
        throw;
    } catch (...) {
        // An answer that fails counts as off.
        log.info("Asking whether the drive is switched on failed: %{public}s", cause());
    }
    setBusy(std::nullopt);
    if (m_step.kind != SetupStep::turnOnDrive)
        co_return;
    if (on)
        go(SetupStep{SetupStep::nameAndCache});
    else
        setError(SetupMessage{driveSwitchOffText, std::nullopt});
}

QCoro::Task<> SetupState::prepareNewDrive(StorageSecrets secrets, QString passphrase)
{
    const std::shared_ptr<SetupConnecting> connection = m_deps.connection;
    const PassphraseCheck check =
        co_await whileAlive(QPointer(this), connection->checkPassphrase(passphrase, secrets, token()));
    if (check == PassphraseCheck::newDrive) {
        m_prepareAttempted = true;
        co_await whileAlive(QPointer(this), connection->prepareNewDrive(passphrase, secrets, token()));
        co_return;
    }
    // Our own earlier attempt may have written the check object before it failed.
    if (check == PassphraseCheck::correct && m_prepareAttempted)
        co_return;
    throw SetupFailure{{storageNotEmptyText, std::nullopt}};
}

QCoro::Task<> SetupState::finish()
{
    const QString name = m_driveName.trimmed();
    if (name.isEmpty()) {
        setError(SetupMessage{missingNameText, std::nullopt});
        co_return;
    }
    if (name.contains(u'/') || name.contains(u':')) {
        setError(SetupMessage{badNameText, std::nullopt});
        co_return;
    }
    if (!m_storageVerified || !m_passphraseVerified) {
        go(SetupStep::storageStep(m_existingDrive));
        co_return;
    }

    const bool existing = m_existingDrive;
    const StorageSecrets secrets = storageSecrets();
    const QString passphrase = m_passphrase;
    const DriveSettings settings{
        .driveName = name,
        .cacheGB = std::min(m_maxCacheGB, std::max(m_cacheGB, minCacheGB)),
        .deviceID = m_deviceID,
        .deviceName = m_deps.deviceName,
        .startAtLogin = true,
    };
    const std::shared_ptr<SetupConnecting> connection = m_deps.connection;
    const std::shared_ptr<SecretStoring> store = m_deps.secrets;

    std::exception_ptr failure;
    try {
        if (!m_started) {
            m_finishBegan = true; // from here on there is no way back
            setBusy(savingKeysBusyText);
            std::exception_ptr keysFailure;
            try {
                co_await whileAlive(QPointer(this), store->save(secrets, passphrase));
                if (m_verifiedCloudflareKey)
                    co_await whileAlive(QPointer(this), store->saveCloudflareKey(*m_verifiedCloudflareKey));
            } catch (const OwnerGone &) {
                throw;
            } catch (...) {
                keysFailure = std::current_exception();
            }
            if (keysFailure)
                throw SetupFailure{{keysNotSavedText, errorText(keysFailure)}};
            m_deps.saveSettings(settings);
        }
        if (!m_organised) {
            // Recorded first, so start-up finishes the step if this one does not.
            m_deps.setOrganisePending(existing ? OrganiseKind::existingDrive : OrganiseKind::newDrive);
            if (existing) {
                setBusy(organisingText);
                co_await whileAlive(QPointer(this), connection->migrateRootIntoDrive(passphrase, secrets, token()));
            } else {
                setBusy(settingUpBusyText);
                co_await prepareNewDrive(secrets, passphrase);
            }
            m_deps.setOrganisePending(std::nullopt);
            m_organised = true;
        }
        if (!m_started) {
            setBusy(startingBusyText);
            co_await whileAlive(QPointer(this), m_deps.startDrive());
            m_started = true;
            update(m_loginNote, m_deps.enableStartAtLogin() ? std::nullopt : std::optional(loginFailedText));
        }
        setBusy(makingKitBusyText);
        const RecoveryKitPayload payload = RecoveryKitPayload::make(secrets, name);
        const QString code = co_await whileAlive(
            QPointer(this), runInPool([payload, passphrase] { return RecoveryKit::encode(payload, passphrase); }));
        update(m_step, SetupStep::recoveryKitStep(code));
    } catch (const OwnerGone &) {
        throw;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure)
        setError(message(failure));
    setBusy(std::nullopt);
}

} // namespace DriveCore
