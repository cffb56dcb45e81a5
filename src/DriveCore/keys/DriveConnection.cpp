#include "DriveCore/keys/DriveConnection.h"

#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/support/Graphemes.h"

#include <algorithm>
#include <array>

namespace DriveCore {

namespace {

const QString basePrefix = QStringLiteral("RCLONE_CONFIG_DRIVE_");
const QString cryptPrefix = QStringLiteral("RCLONE_CONFIG_DRIVECRYPT_");
const QString redacted = QStringLiteral("<redacted>");

// rclone's exit status for a folder that does not exist.
constexpr int32_t directoryNotFound = 3;

const std::array<QLatin1String, 8> badKeysFragments{
    QLatin1String("signaturedoesnotmatch"), QLatin1String("invalidaccesskeyid"),    QLatin1String("accessdenied"),
    QLatin1String("statuscode: 403"),       QLatin1String("status code: 403"),      QLatin1String("403 forbidden"),
    QLatin1String("unauthorized"),          QLatin1String("credential access key"),
};
const std::array<QLatin1String, 2> bucketFragments{QLatin1String("nosuchbucket"), QLatin1String("directory not found")};
const std::array<QLatin1String, 9> offlineFragments{
    QLatin1String("no such host"),       QLatin1String("dial tcp"),         QLatin1String("network is unreachable"),
    QLatin1String("connection refused"), QLatin1String("i/o timeout"),      QLatin1String("tls handshake timeout"),
    QLatin1String("no route to host"),   QLatin1String("connection reset"), QLatin1String("server misbehaving"),
};
const std::array<QLatin1String, 4> decryptionFragments{
    QLatin1String("failed to authenticate decrypted block"),
    QLatin1String("bad password"),
    QLatin1String("not an encrypted file"),
    QLatin1String("file is too short to be encrypted"),
};

// Names at the top of the encrypted remote that belong to the drive, not to an older layout.
const std::array<QLatin1String, 3> drivesOwnNames{QLatin1String(DriveLayout::filesFolder),
                                                  QLatin1String(DriveLayout::trashFolder),
                                                  QLatin1String(DriveLayout::metaFolder)};

template<size_t N>
bool containsAny(const QString &text, const std::array<QLatin1String, N> &fragments)
{
    for (const QLatin1String &fragment : fragments) {
        if (text.contains(fragment))
            return true;
    }
    return false;
}

QString trimSpacesAndTabs(const QString &line)
{
    qsizetype start = 0;
    qsizetype end = line.size();
    while (start < end && (line[start] == u' ' || line[start] == u'\t'))
        ++start;
    while (end > start && (line[end - 1] == u' ' || line[end - 1] == u'\t'))
        --end;
    return line.mid(start, end - start);
}

// The last line that reports an error, else the last line, cut to 300 characters.
QString detailOf(const QString &text)
{
    const QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
    if (lines.isEmpty())
        return {};
    QString chosen = trimSpacesAndTabs(lines.last());
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        const QString line = trimSpacesAndTabs(*it);
        if (line.contains(QLatin1String("ERROR")) || line.startsWith(QLatin1String("Failed"))) {
            chosen = line;
            break;
        }
    }
    return Graphemes::prefix(chosen, 300);
}

QStringList outputLines(const QByteArray &output)
{
    return QString::fromUtf8(output).split(u'\n', Qt::SkipEmptyParts);
}

QString cryptPath(const QString &path)
{
    return QLatin1String(DriveLayout::cryptRemote) + u':' + path;
}

QString checkPath()
{
    return cryptPath(QLatin1String(DriveLayout::metaFolder) + QStringLiteral("/check"));
}

// "<stem> (n)<ext>"; a folder's name has no extension, nor has a name whose only dot leads.
QString numberedName(const QString &name, bool isDir, int number)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    const bool hasExtension = !isDir && dot > 0 && dot < name.size() - 1;
    const QString stem = hasExtension ? name.left(dot) : name;
    const QString extension = hasExtension ? name.mid(dot) : QString();
    return QStringLiteral("%1 (%2)%3").arg(stem).arg(number).arg(extension);
}

} // namespace

namespace {

QString messageFor(ConnectionError::Case value, const QString &detail)
{
    switch (value) {
    case ConnectionError::badKeys:
        return ConnectionError::badKeysText;
    case ConnectionError::bucketNotFound:
        return ConnectionError::bucketNotFoundText;
    case ConnectionError::offline:
        return ConnectionError::offlineText;
    case ConnectionError::other:
        break;
    }
    return ConnectionError::otherText + detail;
}

} // namespace

ConnectionError::ConnectionError(Case value, QString detail)
    : std::runtime_error(messageFor(value, detail).toStdString()), value(value),
      detail(value == other ? std::move(detail) : QString())
{
}

ConnectionError ConnectionError::classify(const QString &stderrText)
{
    const QString lower = stderrText.toLower();
    if (containsAny(lower, badKeysFragments))
        return ConnectionError(badKeys);
    if (containsAny(lower, bucketFragments))
        return ConnectionError(bucketNotFound);
    if (containsAny(lower, offlineFragments))
        return ConnectionError(offline);
    return ConnectionError(other, detailOf(stderrText));
}

QString ConnectionError::redact(QString text, const StorageSecrets &secrets)
{
    for (const QString &secret : {secrets.accessKeyID, secrets.secretAccessKey}) {
        if (!secret.isEmpty())
            text.replace(secret, redacted, Qt::CaseSensitive);
    }
    return text;
}

ConnectionError ConnectionError::failedCommand(const RcloneResult &result, const StorageSecrets &secrets)
{
    if (result.signal != 0)
        return endedBySignal(result.signal);
    return classify(redact(result.stderrText(), secrets));
}

ConnectionError ConnectionError::failedCommand(const ProcessRunner::StreamResult &result, const StorageSecrets &secrets)
{
    if (result.signal != 0)
        return endedBySignal(result.signal);
    return classify(redact(result.tail, secrets));
}

ConnectionError ConnectionError::endedBySignal(int32_t signal)
{
    // What a dying program wrote says nothing about the storage.
    return ConnectionError(
        other, QStringLiteral("The storage helper was stopped by %1.").arg(ProcessRunner::signalText(signal)));
}

QString ConnectionError::message() const
{
    return messageFor(value, detail);
}

bool ConnectionError::operator==(const ConnectionError &other) const
{
    return value == other.value && detail == other.detail;
}

DriveConnection::DriveConnection(QString rclone) : rclone(std::move(rclone)), baseEnvironment(&s3Environment) {}

Environment DriveConnection::s3Environment(const StorageSecrets &secrets)
{
    Environment base;
    const Environment full = RcloneCommand::environment(secrets, QString());
    for (auto it = full.begin(); it != full.end(); ++it) {
        if (it.key().startsWith(basePrefix))
            base.insert(it.key(), it.value());
    }
    return base;
}

Environment DriveConnection::environment(const StorageSecrets &secrets,
                                         const std::optional<QString> &obscuredPassphrase) const
{
    Environment result = RcloneCommand::environment(secrets, obscuredPassphrase.value_or(QString()));
    for (auto it = result.begin(); it != result.end();) {
        const bool drop = it.key().startsWith(basePrefix) || (!obscuredPassphrase && it.key().startsWith(cryptPrefix));
        it = drop ? result.erase(it) : std::next(it);
    }
    const Environment base = baseEnvironment(secrets);
    for (auto it = base.begin(); it != base.end(); ++it) {
        if (it.key().startsWith(basePrefix))
            result.insert(it.key(), it.value());
    }
    return result;
}

QList<DriveConnection::Entry> DriveConnection::parseListing(const QByteArray &output)
{
    QList<Entry> entries;
    for (const QString &line : outputLines(output)) {
        const qsizetype tab = line.indexOf(u'\t');
        if (tab < 0)
            continue;
        Entry entry;
        entry.name = line.mid(tab + 1);
        if (entry.name.endsWith(u'/')) {
            entry.isDir = true;
            entry.name.chop(1);
        }
        bool ok = false;
        const qint64 size = line.left(tab).toLongLong(&ok);
        entry.size = ok ? size : -1;
        entries.append(entry);
    }
    return entries;
}

bool DriveConnection::isDecryptionFailure(const QString &text)
{
    return containsAny(text, decryptionFragments);
}

QCoro::Task<RcloneResult> DriveConnection::run(QStringList arguments, Environment environment,
                                               std::optional<QByteArray> input, CancelToken token) const
{
    checkCancelled(token);
    RcloneResult result =
        co_await ProcessRunner::run(rclone, std::move(arguments), std::move(environment), std::move(input), token);
    // The runner interrupts the child and still returns its result; a cancelled operation ends.
    checkCancelled(token);
    // No status to read (the signal's number would pass for one), nor an error text to trust.
    if (result.signal != 0)
        throw ConnectionError::endedBySignal(result.signal);
    co_return result;
}

QCoro::Task<std::optional<ConnectionError>> DriveConnection::testStorage(StorageSecrets secrets, CancelToken token)
{
    const QStringList arguments{
        QStringLiteral("lsf"),
        QLatin1String(DriveLayout::remote) + u':' + secrets.bucket,
        QStringLiteral("--max-depth"),
        QStringLiteral("1"),
        QStringLiteral("--retries"),
        QStringLiteral("1"),
        QStringLiteral("--low-level-retries"),
        QStringLiteral("2"),
        QStringLiteral("--contimeout"),
        QStringLiteral("15s"),
        QStringLiteral("--timeout"),
        QStringLiteral("30s"),
    };
    RcloneResult result;
    try {
        result = co_await run(arguments, environment(secrets, std::nullopt), std::nullopt, token);
    } catch (const ProcessRunner::LaunchError &) {
        co_return ConnectionError(ConnectionError::other, startFailedText);
    } catch (const ConnectionError &signalled) {
        co_return signalled;
    }
    if (result.status == 0)
        co_return std::nullopt;
    co_return ConnectionError::failedCommand(result, secrets);
}

QCoro::Task<QList<DriveConnection::Entry>>
DriveConnection::list(QString remote, StorageSecrets secrets, std::optional<QString> obscured, CancelToken token) const
{
    const QStringList arguments{QStringLiteral("lsf"),         remote,
                                QStringLiteral("--max-depth"), QStringLiteral("1"),
                                QStringLiteral("--format"),    QStringLiteral("sp"),
                                QStringLiteral("--separator"), QStringLiteral("\t")};
    const RcloneResult result = co_await run(arguments, environment(secrets, obscured), std::nullopt, token);
    if (result.status != 0)
        throw ConnectionError::failedCommand(result, secrets);
    co_return parseListing(result.stdoutBytes);
}

QCoro::Task<DriveConnection::CheckState> DriveConnection::readCheck(StorageSecrets secrets, QString obscured,
                                                                    CancelToken token) const
{
    const Environment env = environment(secrets, obscured);
    const RcloneResult listing =
        co_await run({QStringLiteral("lsf"), cryptPath(QLatin1String(DriveLayout::metaFolder)),
                      QStringLiteral("--files-only"), QStringLiteral("--max-depth"), QStringLiteral("1")},
                     env, std::nullopt, token);
    if (listing.status == directoryNotFound)
        co_return CheckState::absent;
    if (listing.status != 0)
        throw ConnectionError::failedCommand(listing, secrets);
    if (!outputLines(listing.stdoutBytes).contains(QStringLiteral("check")))
        co_return CheckState::absent;

    const RcloneResult read = co_await run({QStringLiteral("cat"), checkPath()}, env, std::nullopt, token);
    if (read.status != 0) {
        if (isDecryptionFailure(read.stderrText()))
            co_return CheckState::differs;
        throw ConnectionError::failedCommand(read, secrets);
    }
    co_return QString::fromUtf8(read.stdoutBytes).trimmed() == QString::fromLatin1(checkContent) ? CheckState::matches
                                                                                                 : CheckState::differs;
}

QCoro::Task<> DriveConnection::writeCheck(StorageSecrets secrets, QString obscured, CancelToken token) const
{
    const RcloneResult result =
        co_await run({QStringLiteral("rcat"), checkPath()}, environment(secrets, obscured), checkContent, token);
    if (result.status != 0)
        throw ConnectionError::failedCommand(result, secrets);
}

QCoro::Task<PassphraseCheck> DriveConnection::checkPassphrase(QString passphrase, StorageSecrets secrets,
                                                              CancelToken token)
{
    const QString obscured = RcloneCommand::obscure(passphrase);
    switch (co_await readCheck(secrets, obscured, token)) {
    case CheckState::matches:
        co_return PassphraseCheck::correct;
    case CheckState::differs:
        co_return PassphraseCheck::wrong;
    case CheckState::absent:
        break;
    }

    const QList<Entry> base =
        co_await list(QLatin1String(DriveLayout::remote) + u':' + secrets.bucket, secrets, std::nullopt, token);
    if (base.isEmpty())
        co_return PassphraseCheck::newDrive;
    // Names that do not decrypt under this passphrase are left out of this listing.
    const QList<Entry> decrypted = co_await list(cryptPath({}), secrets, obscured, token);
    if (decrypted.isEmpty())
        co_return PassphraseCheck::wrong;

    const auto file = std::find_if(decrypted.begin(), decrypted.end(),
                                   [](const Entry &entry) { return !entry.isDir && entry.size >= 1; });
    if (file == decrypted.end()) {
        // Only folders and empty files: nothing to decrypt, so compare what each listing sees.
        if (decrypted.size() != base.size())
            co_return PassphraseCheck::wrong;
        co_await writeCheck(secrets, obscured, token);
        co_return PassphraseCheck::correct;
    }
    const RcloneResult read =
        co_await run({QStringLiteral("cat"), QStringLiteral("--head"), QStringLiteral("1"), cryptPath(file->name)},
                     environment(secrets, obscured), std::nullopt, token);
    if (read.status == 0) {
        co_await writeCheck(secrets, obscured, token);
        co_return PassphraseCheck::correct;
    }
    if (isDecryptionFailure(read.stderrText()))
        co_return PassphraseCheck::wrong;
    throw ConnectionError::failedCommand(read, secrets);
}

QCoro::Task<> DriveConnection::prepareNewDrive(QString passphrase, StorageSecrets secrets, CancelToken token)
{
    const QString obscured = RcloneCommand::obscure(passphrase);
    co_await writeCheck(secrets, obscured, token);
}

QCoro::Task<QString> DriveConnection::freeNameInDrive(Entry entry, StorageSecrets secrets, QString obscured,
                                                      CancelToken token) const
{
    const Environment env = environment(secrets, obscured);
    for (int number = 1;; ++number) {
        const QString name = number == 1 ? entry.name : numberedName(entry.name, entry.isDir, number);
        // A file lists itself and a folder its contents; on object storage a folder without
        // contents does not exist, so nothing listed means the name is free.
        const RcloneResult result =
            co_await run({QStringLiteral("lsf"), cryptPath(QLatin1String(DriveLayout::filesFolder) + u'/' + name),
                          QStringLiteral("--max-depth"), QStringLiteral("1")},
                         env, std::nullopt, token);
        if (result.status == directoryNotFound)
            co_return name;
        if (result.status != 0)
            throw ConnectionError::failedCommand(result, secrets);
        if (outputLines(result.stdoutBytes).isEmpty())
            co_return name;
    }
}

QCoro::Task<qint64> DriveConnection::migrateRootIntoDrive(QString passphrase, StorageSecrets secrets, CancelToken token)
{
    const QString obscured = RcloneCommand::obscure(passphrase);
    if (co_await readCheck(secrets, obscured, token) != CheckState::matches)
        throw PassphraseNotConfirmed();

    QList<Entry> entries = co_await list(cryptPath({}), secrets, obscured, token);
    entries.removeIf([](const Entry &entry) {
        return std::find(drivesOwnNames.begin(), drivesOwnNames.end(), entry.name) != drivesOwnNames.end();
    });

    const Environment env = environment(secrets, obscured);
    qint64 moved = 0;
    for (const Entry &entry : entries) {
        // Never over an entry already in Drive: moving onto it would merge or overwrite.
        const QString target = co_await freeNameInDrive(entry, secrets, obscured, token);
        const QString destination = cryptPath(QLatin1String(DriveLayout::filesFolder) + u'/' + target);
        const QStringList arguments = entry.isDir
            ? QStringList{QStringLiteral("move"), cryptPath(entry.name), destination,
                          QStringLiteral("--delete-empty-src-dirs")}
            : QStringList{QStringLiteral("moveto"), cryptPath(entry.name), destination};
        const RcloneResult result = co_await run(arguments, env, std::nullopt, token);
        if (result.status != 0)
            throw ConnectionError::failedCommand(result, secrets);
        ++moved;
    }
    co_return moved;
}

} // namespace DriveCore
