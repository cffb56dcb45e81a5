#pragma once

#include "DriveCore/engine/DriveProfile.h"
#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/keys/DriveConnection.h"
#include "DriveCore/keys/OrganisePending.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/platform/HTTPSend.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>

#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace DriveCore {

// A screen of first-run setup.
struct SetupStep {
    enum Kind {
        storage, // enter the storage; `existing` when the user already has a drive
        passphrase, // choose (new drive) or type (existing drive) the passphrase; `existing` as above
        recoveryKit, // show `code`, the Recovery Kit made at the end of setup
        welcome, // a new drive or an existing one
        turnOnDrive, // switch on the file-system layer
        nameAndCache, // drive name and cache size
        done,
    };

    static SetupStep storageStep(bool existing) { return {storage, existing, {}}; }
    static SetupStep passphraseStep(bool existing) { return {passphrase, existing, {}}; }
    static SetupStep recoveryKitStep(QString code) { return {recoveryKit, false, std::move(code)}; }

    bool operator==(const SetupStep &) const = default;

    Kind kind = welcome;
    bool existing = false;
    QString code;
};

// What a step shows when something failed: a sentence and, for some failures, a technical line.
struct SetupMessage {
    QString text;
    std::optional<QString> details;

    bool operator==(const SetupMessage &) const = default;
};

// What setup needs from the rest of the app; the app model builds it when the setup window opens.
struct SetupDeps {
    std::shared_ptr<SetupConnecting> connection;
    std::shared_ptr<SecretStoring> secrets;
    std::function<void(const DriveSettings &)> saveSettings;
    // Starts the drive with the settings and keys just saved. Throws AppModelError.
    std::function<QCoro::Task<>()> startDrive;
    // Registers the app to open at login; false when that failed.
    std::function<bool()> enableStartAtLogin;
    // Records (or, with none, clears) the organise step still to run.
    std::function<void(std::optional<OrganiseKind>)> setOrganisePending;
    std::function<qint64()> freeDiskBytes;
    QString fullUserName;
    QString deviceName; // becomes DriveSettings::deviceName
    std::optional<DriveSettings> existingSettings; // left from an earlier setup on this computer
    // Whether the file-system layer is switched on (true when the engine does not need it).
    std::function<QCoro::Task<bool>()> driveSwitchOn = []() -> QCoro::Task<bool> { co_return true; };
    // The transport of the Cloudflare token check.
    HTTPSend send = [](HTTPRequest request, CancelToken token) { return liveHTTPSend(std::move(request), token); };
};

// The model behind the first-run setup window: the current step, the text of every field the
// screens edit, a progress text while something runs and the error to show. The screens read
// its fields (re-reading them on changed()), write the editable ones and call its actions.
//
// Main-thread object. The asynchronous actions suspend while a check runs; `busyText` is the
// guard that keeps a second action from starting meanwhile. Destroying the object interrupts a
// running storage command, and a suspended action then ends without touching it.
class SetupState : public QObject {
    Q_OBJECT
public:
    enum class StorageEntry { recoveryKit, manual };

    static constexpr qsizetype minPassphraseLength = 20; // user-perceived characters
    static constexpr qsizetype generatedLength = 24;
    // No l, o, I, O, 0 or 1.
    static inline const QString passphraseAlphabet =
        QStringLiteral("abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789");

    static inline const QString mustTickText =
        QStringLiteral("If I lose this passphrase, my files cannot be recovered by anyone.");
    static inline const QString recoveryKitSaveText =
        QStringLiteral("Save this code in your password manager. With it and your passphrase you can open your drive "
                       "on any computer.");
    static inline const QString storageDetailsText =
        QStringLiteral("Save these too — they're needed to get your files without the app.");
    static inline const QString organisingText = QStringLiteral("Organising your drive…");
    static inline const QString driveSwitchOffText = QStringLiteral(
        "Ovra isn't switched on yet. Click Show How, install bindfs and make sure /dev/fuse is usable; that turns "
        "on Ovra File System.");
    static inline const QString missingStorageText = QStringLiteral("Fill in all four storage boxes.");
    static inline const QString missingCloudflareKeyText =
        QStringLiteral("Fill in the endpoint, the bucket and your Cloudflare API token.");
    static inline const QString unknownCloudflareKeyText = QStringLiteral(
        "Cloudflare doesn't know that API token, or it's switched off. Copy it again, or make a new one.");
    static inline const QString notCloudflareText =
        QStringLiteral("A Cloudflare API token works only with Cloudflare R2. For other storage, use storage keys.");
    static inline const QString shortPassphraseText = QStringLiteral("Your passphrase must be at least 20 characters.");
    static inline const QString mismatchText = QStringLiteral("The two passphrases don't match.");
    static inline const QString mustTickMissingText = QStringLiteral("Tick the box to show you understand.");
    static inline const QString missingPassphraseText = QStringLiteral("Type your drive's passphrase.");
    static inline const QString wrongPassphraseText = QStringLiteral("That passphrase doesn't open this drive.");
    static inline const QString storageEmptyText =
        QStringLiteral("This storage is empty — choose 'Set up a new drive' instead.");
    static inline const QString storageNotEmptyText =
        QStringLiteral("This storage already has files. Choose 'I already have a drive'.");
    static inline const QString connectionOtherText =
        QStringLiteral("Something went wrong connecting to your storage. Try again.");
    static inline const QString kitWrongPassphraseText =
        QStringLiteral("That passphrase doesn't open this Recovery Kit (or the code is damaged).");
    static inline const QString unexpectedText = QStringLiteral("Something went wrong. Try again.");
    static inline const QString kitBadFormatText = QStringLiteral("That doesn't look like a Recovery Kit code.");
    static inline const QString missingNameText = QStringLiteral("Give your drive a name.");
    static inline const QString badNameText = QStringLiteral("A drive name can't contain / or :");
    static inline const QString loginFailedText =
        QStringLiteral("Ovra couldn't be set to open when you log in. You can turn this on in Settings.");
    static inline const QString keysNotSavedText = QStringLiteral("Your keys couldn't be saved in your keyring.");

    // Busy texts of the actions.
    static inline const QString openingKitBusyText = QStringLiteral("Opening your Recovery Kit…");
    static inline const QString checkingTokenBusyText = QStringLiteral("Checking your Cloudflare API token…");
    static inline const QString testingBusyText = QStringLiteral("Testing connection…");
    static inline const QString checkingPassphraseBusyText = QStringLiteral("Checking your passphrase…");
    static inline const QString savingKeysBusyText = QStringLiteral("Saving your keys…");
    static inline const QString settingUpBusyText = QStringLiteral("Setting up your drive…");
    static inline const QString startingBusyText = QStringLiteral("Starting your drive…");
    static inline const QString makingKitBusyText = QStringLiteral("Making your Recovery Kit…");

    explicit SetupState(SetupDeps deps, QObject *parent = nullptr);
    ~SetupState() override;

    // "Ovra", or "Ovra <profile>" with a drive profile; the full name does not enter it.
    static QString defaultDriveName(const QString &fullUserName,
                                    const std::optional<QString> &profile = DriveProfile::current());
    // 24 characters of passphraseAlphabet, each drawn uniformly from the secure random source.
    // Throws Crypto::Error.
    static QString generatePassphrase();
    // The largest cache that leaves 20 GB of `freeBytes` free, and never below 5 GB.
    static qint64 maxCacheGB(qint64 freeBytes);
    // Setup's own sentence for a failed storage command.
    static SetupMessage message(const ConnectionError &error);
    // The sentence for any failure of a check or of the finish.
    static SetupMessage message(std::exception_ptr error);

    const SetupStep &step() const { return m_step; }
    StorageEntry storageEntry() const { return m_storageEntry; }
    const QString &endpoint() const { return m_endpoint; }
    const QString &bucket() const { return m_bucket; }
    const QString &accessKeyID() const { return m_accessKeyID; }
    const QString &secretAccessKey() const { return m_secretAccessKey; }
    bool useCloudflareKey() const { return m_useCloudflareKey; }
    const QString &cloudflareKey() const { return m_cloudflareKey; }
    const QString &recoveryKitCode() const { return m_recoveryKitCode; }
    const QString &recoveryKitPassphrase() const { return m_recoveryKitPassphrase; }
    const QString &passphrase() const { return m_passphrase; }
    const QString &confirmPassphrase() const { return m_confirmPassphrase; }
    bool acknowledged() const { return m_acknowledged; }
    const QString &driveName() const { return m_driveName; }
    qint64 cacheGB() const { return m_cacheGB; }
    qint64 maxCacheGB() const { return m_maxCacheGB; }
    const std::optional<SetupMessage> &error() const { return m_error; }
    const std::optional<QString> &busyText() const { return m_busyText; }
    bool isBusy() const { return m_busyText.has_value(); }
    const std::optional<QString> &loginNote() const { return m_loginNote; }
    const SetupDeps &deps() const { return m_deps; }
    const QUuid &deviceID() const { return m_deviceID; }
    // The four storage fields, each trimmed of white space and line breaks.
    StorageSecrets storageSecrets() const;

    void setStorageEntry(StorageEntry value) { update(m_storageEntry, value); }
    void setEndpoint(const QString &value) { update(m_endpoint, value); }
    void setBucket(const QString &value) { update(m_bucket, value); }
    void setAccessKeyID(const QString &value) { update(m_accessKeyID, value); }
    void setSecretAccessKey(const QString &value) { update(m_secretAccessKey, value); }
    void setUseCloudflareKey(bool value) { update(m_useCloudflareKey, value); }
    void setCloudflareKey(const QString &value) { update(m_cloudflareKey, value); }
    void setRecoveryKitCode(const QString &value) { update(m_recoveryKitCode, value); }
    void setRecoveryKitPassphrase(const QString &value) { update(m_recoveryKitPassphrase, value); }
    void setPassphrase(const QString &value) { update(m_passphrase, value); }
    void setConfirmPassphrase(const QString &value) { update(m_confirmPassphrase, value); }
    void setAcknowledged(bool value) { update(m_acknowledged, value); }
    void setDriveName(const QString &value) { update(m_driveName, value); }
    // Kept as set; brought into 5...maxCacheGB only when the finish builds the settings.
    void setCacheGB(qint64 value) { update(m_cacheGB, value); }

    // The welcome choices; they work on any step.
    void chooseNewDrive();
    void chooseExistingDrive();
    // One step back: not while busy, and never once the finish has begun.
    bool canGoBack() const;
    void back();
    // Fills both passphrase fields with one generated passphrase.
    void generate();
    // Opens the pasted code with its passphrase (off the main thread) and fills the storage
    // fields and the passphrase; nothing is tested yet. False when busy or it did not open.
    QCoro::Task<bool> applyRecoveryKit();
    // The step's main button: checks the step's input and moves on.
    QCoro::Task<> next();
    // On the turn-on step, moves on as soon as the file-system layer is on. Called repeatedly.
    QCoro::Task<> checkDriveSwitch();
    // Leaves the Recovery Kit step for done and wipes the secrets held in the fields.
    void closeRecoveryKit();

signals:
    void changed();

private:
    // A failure whose message reaches the error field unchanged.
    struct SetupFailure {
        SetupMessage message;
    };

    template<typename T>
    void update(T &field, const T &value)
    {
        if (field == value)
            return;
        field = value;
        emit changed();
    }

    void go(const SetupStep &target);
    void setError(const std::optional<SetupMessage> &message) { update(m_error, message); }
    void setBusy(const std::optional<QString> &text) { update(m_busyText, text); }
    CancelToken token() const { return m_cancel.get_token(); }

    QCoro::Task<> nextFromStorage(bool existing);
    QCoro::Task<> testStorage(bool existing);
    QCoro::Task<> nextFromPassphrase(bool existing);
    QCoro::Task<> nextFromTurnOnDrive();
    QCoro::Task<> finish();
    QCoro::Task<> prepareNewDrive(StorageSecrets secrets, QString passphrase);

    SetupStep m_step;
    StorageEntry m_storageEntry = StorageEntry::recoveryKit;
    QString m_endpoint;
    QString m_bucket;
    QString m_accessKeyID;
    QString m_secretAccessKey;
    bool m_useCloudflareKey = true;
    QString m_cloudflareKey;
    QString m_recoveryKitCode;
    QString m_recoveryKitPassphrase;
    QString m_passphrase;
    QString m_confirmPassphrase;
    bool m_acknowledged = false;
    QString m_driveName;
    qint64 m_cacheGB = 30;
    qint64 m_maxCacheGB = 5;
    std::optional<SetupMessage> m_error;
    std::optional<QString> m_busyText;
    std::optional<QString> m_loginNote;
    SetupDeps m_deps;
    QUuid m_deviceID;

    bool m_existingDrive = false;
    bool m_storageVerified = false;
    std::optional<QString> m_verifiedCloudflareKey; // the trimmed token whose keys passed the storage test
    bool m_passphraseVerified = false;
    bool m_organised = false;
    bool m_prepareAttempted = false;
    bool m_started = false;
    bool m_finishBegan = false;

    CancelSource m_cancel;
};

} // namespace DriveCore
