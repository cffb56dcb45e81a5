#include "DriveCore/services/CopyAllFiles.h"

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/platform/Folders.h"
#include "DriveCore/support/Log.h"
#include "DriveCore/support/Threads.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <system_error>

namespace DriveCore::CopyAllFiles {

namespace {

const Log log("copy-all");

// A file the engine was copying when it wrote a statistics line.
struct InFlight {
    QString name; // its path inside the destination
    qint64 size = -1; // at the source; -1 when the engine did not say

    static InFlight decode(const JsonReader &reader)
    {
        return {reader.value<QString>(u"name"), reader.optional<qint64>(u"size").value_or(-1)};
    }
};

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

// The "stats" object of a log line; none for a line that is no JSON object or has none.
std::optional<JsonReader> statsOf(const QString &logLine)
{
    const QJsonDocument document = QJsonDocument::fromJson(logLine.toUtf8());
    if (!document.isObject())
        return std::nullopt;
    const QJsonValue stats = document.object().value(u"stats");
    if (!stats.isObject())
        return std::nullopt;
    return JsonReader(stats.toObject(), QStringLiteral("stats"));
}

std::optional<CopyProgress> progressIn(const JsonReader &stats)
{
    std::optional<LogStats> figures;
    try {
        figures = LogStats::decode(stats);
    } catch (const JsonDecodingError &) {
        return std::nullopt;
    }
    if (!figures->bytes)
        return std::nullopt;
    return CopyProgress{*figures->bytes, figures->totalBytes.value_or(*figures->bytes)};
}

// The files a statistics line names as in flight; none when its list does not decode.
std::optional<QList<InFlight>> inFlightIn(const JsonReader &stats)
{
    try {
        return stats.listOrEmpty<InFlight>(u"transferring");
    } catch (const JsonDecodingError &error) {
        log.error("A statistics line of the copy names no files: %{public}s", QString::fromUtf8(error.what()));
        return std::nullopt;
    }
}

// The engine writes each file in place under its final name: a stopped or failed copy leaves
// the file in flight cut short, and the next copy would skip it as existing. Removes each file
// the last statistics line named whose size here is not the source's (an unknown source size
// counts as different). Never reaches out of the destination.
void removeCutShort(const QString &destination, const QList<InFlight> &files)
{
    for (const InFlight &file : files) {
        try {
            if (Folders::removeFileBeneath(destination, file.name, [&file](qint64 size) { return size != file.size; }))
                log.notice("Removed %{private}s, cut short when the copy ended", file.name);
        } catch (const std::system_error &error) {
            log.error("Could not remove %{private}s, cut short when the copy ended: %{public}s", file.name,
                      QString::fromLocal8Bit(error.what()));
        }
    }
}

} // namespace

std::optional<CopyProgress> progress(const QString &logLine)
{
    const std::optional<JsonReader> stats = statsOf(logLine);
    return stats ? progressIn(*stats) : std::nullopt;
}

QCoro::Task<> copyAll(DriveConnection connection, QString destination, StorageSecrets secrets, QString passphrase,
                      std::function<void(const CopyProgress &)> onProgress, CancelToken token)
{
    checkCancelled(token);
    const QStringList arguments{QStringLiteral("copy"),
                                QString::fromLatin1(RCClient::mountFs),
                                destination,
                                QStringLiteral("--ignore-existing"),
                                QStringLiteral("--use-json-log"),
                                QStringLiteral("--stats"),
                                QStringLiteral("1s"),
                                QStringLiteral("--stats-log-level"),
                                QStringLiteral("NOTICE")};
    QList<InFlight> inFlight; // as the last statistics line named them
    const auto onLine = [&inFlight, onProgress = std::move(onProgress)](const QString &line) {
        const std::optional<JsonReader> stats = statsOf(line);
        if (!stats)
            return;
        if (std::optional<QList<InFlight>> files = inFlightIn(*stats))
            inFlight = std::move(*files);
        if (const std::optional<CopyProgress> report = progressIn(*stats); report && onProgress)
            onProgress(*report);
    };
    const ProcessRunner::StreamResult result = co_await ProcessRunner::stream(
        connection.rclone, arguments, environment(connection, secrets, passphrase), onLine, token);
    // Also after a stop: the next copy must not take a file cut short for a copied one.
    if (token.stop_requested() || result.status != 0)
        co_await runInPool([destination, inFlight] { removeCutShort(destination, inFlight); });
    // A cancelled copy is cancelled, even when the engine managed to finish first.
    checkCancelled(token);
    // The keys never leave in an error text.
    if (result.status != 0)
        throw ConnectionError::failedCommand(result, secrets);
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
