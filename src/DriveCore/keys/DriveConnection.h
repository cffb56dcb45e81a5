#pragma once

#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/platform/ProcessRunner.h"
#include "DriveCore/support/Cancellation.h"
#include "DriveCore/support/UserError.h"

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <stdexcept>

namespace DriveCore {

// A one-shot storage command failed. Made from the command's standard error by one
// classification table; `message()` is the sentence to show. A detail never holds the access
// key id or the secret access key: standard error is redacted before it is classified.
class ConnectionError : public std::runtime_error {
public:
    enum Case { other, badKeys, bucketNotFound, offline };

    static inline const QString badKeysText =
        QStringLiteral("Those storage keys didn't work. Check the Access Key ID and Secret Access Key.");
    static inline const QString bucketNotFoundText = QStringLiteral("That bucket wasn't found. Check the bucket name.");
    static inline const QString offlineText =
        QStringLiteral("Couldn't reach the storage. Check your internet connection.");
    // Followed by the detail.
    static inline const QString otherText = QStringLiteral("Something went wrong talking to the storage: ");

    explicit ConnectionError(Case value, QString detail = {});

    // The first matching group wins: bad keys, then a missing bucket, then no connection; else
    // `other` with the last error line of the text, trimmed and cut to 300 characters.
    static ConnectionError classify(const QString &stderrText);
    // `text` with every occurrence of the access key id and then of the secret access key
    // (exact, case-sensitive; empty values skipped) replaced by "<redacted>".
    static QString redact(QString text, const StorageSecrets &secrets);
    // A command that ended with a non-zero status: its standard error, redacted, classified.
    // A command a signal ended is `other` with that signal, whatever it wrote.
    static ConnectionError failedCommand(const RcloneResult &result, const StorageSecrets &secrets);
    // The same for a streamed command, from the tail of its standard error.
    static ConnectionError failedCommand(const ProcessRunner::StreamResult &result, const StorageSecrets &secrets);
    // A command a signal ended.
    static ConnectionError endedBySignal(int32_t signal);

    QString message() const;

    // The case and, for `other`, the detail.
    bool operator==(const ConnectionError &other) const;

    Case value;
    QString detail; // only for `other`
};

// What a passphrase is to the bucket.
enum class PassphraseCheck {
    newDrive, // the bucket is empty: a new drive will be made with this passphrase
    correct, // it opens the drive in the bucket
    wrong, // it does not
};

// The drive's files were not moved because the passphrase could not be confirmed by the check
// object.
class PassphraseNotConfirmed : public UserError {
public:
    static inline const QString messageText =
        QStringLiteral("Your passphrase couldn't be confirmed, so your files were left where they are.");

    PassphraseNotConfirmed() : UserError(messageText) {}

    QString message = messageText;
};

// The storage seen before the drive runs: what setup and the app model's organise step and key
// replacement ask the bucket. Every operation may throw CancelledError once its token is
// cancelled.
class SetupConnecting {
public:
    virtual ~SetupConnecting() = default;

    // None when the keys can list the bucket (an empty bucket passes), else why not. Throws
    // nothing but CancelledError.
    virtual QCoro::Task<std::optional<ConnectionError>> testStorage(StorageSecrets secrets, CancelToken token = {}) = 0;
    // Whether the passphrase opens the drive in the bucket. May write the check object.
    virtual QCoro::Task<PassphraseCheck> checkPassphrase(QString passphrase, StorageSecrets secrets,
                                                         CancelToken token = {}) = 0;
    // Marks an empty bucket as this passphrase's drive.
    virtual QCoro::Task<> prepareNewDrive(QString passphrase, StorageSecrets secrets, CancelToken token = {}) = 0;
    // Moves an older layout (files at the top of the encrypted remote) into the "Drive" folder,
    // never over an entry already there; gives the number of entries moved. Throws
    // PassphraseNotConfirmed unless the check object matches.
    virtual QCoro::Task<qint64> migrateRootIntoDrive(QString passphrase, StorageSecrets secrets,
                                                     CancelToken token = {}) = 0;
};

// The storage connection over one-shot engine commands, one child at a time, each with an
// exact environment (no configuration file, nothing inherited). Cancelling an operation
// interrupts its running child and ends it with CancelledError. Commands that cannot be
// started throw ProcessRunner::LaunchError, except in the storage test.
class DriveConnection final : public SetupConnecting {
public:
    // One line of a listing.
    struct Entry {
        QString name; // as listed, without a trailing "/"
        bool isDir = false;
        qint64 size = -1; // -1 when the size column is not a decimal integer

        bool operator==(const Entry &) const = default;
    };

    static inline const QString startFailedText = QStringLiteral("Couldn't start the storage helper.");
    // What the check object holds, encrypted, at "drivecrypt:.corvane/check".
    static inline const QByteArray checkContent = QByteArrayLiteral("corvane-drive-check-v1");

    explicit DriveConnection(QString rclone);

    QString rclone; // the engine program
    // The base remote's entries for the keys ("RCLONE_CONFIG_DRIVE_..."); replaceable so the
    // base remote can point elsewhere. Starts as s3Environment.
    std::function<Environment(const StorageSecrets &)> baseEnvironment;

    // The command environment's base-remote entries for the keys, with an empty passphrase.
    static Environment s3Environment(const StorageSecrets &secrets);
    // The engine's environment for the keys, its base-remote entries from `baseEnvironment`;
    // without a passphrase the encrypted remote is left out, so only the base remote exists.
    Environment environment(const StorageSecrets &secrets, const std::optional<QString> &obscuredPassphrase) const;

    // Lines of "lsf --format sp" output separated by a tab; lines without a tab are skipped.
    static QList<Entry> parseListing(const QByteArray &output);
    // Whether the engine's error text says it could not decrypt.
    static bool isDecryptionFailure(const QString &text);

    QCoro::Task<std::optional<ConnectionError>> testStorage(StorageSecrets secrets, CancelToken token = {}) override;
    QCoro::Task<PassphraseCheck> checkPassphrase(QString passphrase, StorageSecrets secrets,
                                                 CancelToken token = {}) override;
    QCoro::Task<> prepareNewDrive(QString passphrase, StorageSecrets secrets, CancelToken token = {}) override;
    QCoro::Task<qint64> migrateRootIntoDrive(QString passphrase, StorageSecrets secrets,
                                             CancelToken token = {}) override;

private:
    enum class CheckState { absent, matches, differs };

    QCoro::Task<RcloneResult> run(QStringList arguments, Environment environment, std::optional<QByteArray> input,
                                  CancelToken token) const;
    QCoro::Task<QList<Entry>> list(QString remote, StorageSecrets secrets, std::optional<QString> obscured,
                                   CancelToken token) const;
    QCoro::Task<CheckState> readCheck(StorageSecrets secrets, QString obscured, CancelToken token) const;
    QCoro::Task<> writeCheck(StorageSecrets secrets, QString obscured, CancelToken token) const;
    QCoro::Task<QString> freeNameInDrive(Entry entry, StorageSecrets secrets, QString obscured,
                                         CancelToken token) const;
};

} // namespace DriveCore
