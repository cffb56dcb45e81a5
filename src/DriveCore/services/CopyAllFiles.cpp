#include "DriveCore/services/CopyAllFiles.h"

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/engine/RcloneCommand.h"

#include <QJsonObject>

namespace DriveCore::CopyAllFiles {

namespace {

// The statistics of one JSON log line; other keys are ignored.
struct LogStats {
    std::optional<qint64> bytes;
    std::optional<qint64> totalBytes;

    static LogStats decode(const JsonReader &reader)
    {
        return {reader.optional<qint64>(u"bytes"), reader.optional<qint64>(u"totalBytes")};
    }
};

struct SizeReply {
    qint64 bytes = 0;
    static SizeReply decode(const JsonReader &reader) { return {reader.value<qint64>(u"bytes")}; }
};

Environment environment(const DriveConnection &connection, const StorageSecrets &secrets, const QString &passphrase)
{
    return connection.environment(secrets, RcloneCommand::obscure(passphrase));
}

} // namespace

std::optional<CopyProgress> progress(const QString &logLine)
{
    std::optional<LogStats> stats;
    try {
        // Lines that are not the engine's statistics are skipped.
        stats = JsonReader::parse(logLine.toUtf8(), u"The log line").optional<LogStats>(u"stats");
    } catch (const JsonDecodingError &) {
        return std::nullopt;
    }
    if (!stats || !stats->bytes)
        return std::nullopt;
    return CopyProgress{*stats->bytes, stats->totalBytes.value_or(*stats->bytes)};
}

QCoro::Task<> copyAll(DriveConnection connection, QString destination, StorageSecrets secrets, QString passphrase,
                      std::function<void(const CopyProgress &)> onProgress, CancelToken token)
{
    checkCancelled(token);
    const QStringList arguments{QStringLiteral("copy"),         QString::fromLatin1(RCClient::mountFs),
                                destination,                    QStringLiteral("--ignore-existing"),
                                QStringLiteral("--use-json-log"), QStringLiteral("--stats"),
                                QStringLiteral("1s"),           QStringLiteral("--stats-log-level"),
                                QStringLiteral("NOTICE")};
    const auto onLine = [onProgress = std::move(onProgress)](const QString &line) {
        if (const std::optional<CopyProgress> report = progress(line); report && onProgress)
            onProgress(*report);
    };
    const ProcessRunner::StreamResult result = co_await ProcessRunner::stream(
        connection.rclone, arguments, environment(connection, secrets, passphrase), onLine, token);
    // A cancelled copy is cancelled, even when the engine managed to finish first.
    checkCancelled(token);
    // The keys never leave in an error text.
    if (result.status != 0)
        throw ConnectionError::classify(ConnectionError::redact(result.tail, secrets));
}

QCoro::Task<qint64> driveSize(DriveConnection connection, StorageSecrets secrets, QString passphrase, CancelToken token)
{
    checkCancelled(token);
    const RcloneResult result = co_await ProcessRunner::run(
        connection.rclone, {QStringLiteral("size"), QString::fromLatin1(RCClient::mountFs), QStringLiteral("--json")},
        environment(connection, secrets, passphrase), std::nullopt, token);
    // An interrupted measurement is cancelled, not a storage failure.
    checkCancelled(token);
    if (result.status != 0)
        throw ConnectionError::failedCommand(result, secrets);
    co_return SizeReply::decode(JsonReader::parse(result.stdoutBytes, u"The size reply")).bytes;
}

} // namespace DriveCore::CopyAllFiles
