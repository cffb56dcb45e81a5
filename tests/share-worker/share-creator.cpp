// The application's own share creator and link-status request, for the end-to-end test of the
// link page. Two commands, each reading one JSON value on standard input and writing one on
// standard output:
//
//   share-creator create
//     {"workerURL": "http://127.0.0.1:8787/", "folder": "/tmp/x",
//      "shares": [{"name": "open", "picked": ["/tmp/files/a.txt", "/tmp/files/Photos"],
//                  "password": "pw" (optional), "expiry": "oneHour" (optional, default sevenDays),
//                  "maxDownloads": 1 (optional), "age": 7200 (optional: made that many seconds ago)}]}
//   makes each share with ShareCreator over Debian's rclone into a loopback S3 server started for
//   the run, copies its objects out of the bucket into "<folder>/<id>/", and prints
//   {"<name>": {"record": <the stored record>, "link": "<the link>"}}.
//
//   share-creator status
//     [<record>, ...]
//   sends each record's link-status request with the application's HTTP sender and prints
//   [{"http": 200, "status": "live", "info": {...}}, ...] ("info" only for a live link).
#include "DriveCore/platform/ProcessRunner.h"
#include "DriveCore/shares/ShareCreator.h"
#include "DriveCore/shares/ShareFiles.h"
#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/shares/ShareInfo.h"
#include "DriveCore/shares/ShareRecords.h"
#include "ShareBucket.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>

using namespace DriveCore;
using TestSupport::await;

namespace {

QJsonDocument readInput()
{
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        throw std::runtime_error("no standard input");
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(input.readAll(), &error);
    if (error.error != QJsonParseError::NoError)
        throw std::runtime_error("standard input is not JSON: " + error.errorString().toStdString());
    return document;
}

void print(const QJsonDocument &document)
{
    std::fputs(document.toJson(QJsonDocument::Compact).constData(), stdout);
}

ShareOptions options(const QJsonObject &share)
{
    ShareOptions options;
    if (share.contains(u"expiry")) {
        const std::optional<ShareExpiry> expiry = ShareExpiry::fromText(share.value(u"expiry").toString());
        if (!expiry)
            throw std::runtime_error("not an expiry: " + share.value(u"expiry").toString().toStdString());
        options.expiry = *expiry;
    }
    if (share.value(u"maxDownloads").isDouble())
        options.maxDownloads = share.value(u"maxDownloads").toInteger();
    if (share.value(u"password").isString())
        options.password = share.value(u"password").toString();
    return options;
}

int create(const QJsonObject &script)
{
    TestSupport::ShareBucket bucket;
    if (!bucket.start())
        throw std::runtime_error("the S3 server did not start: " + bucket.server().output().toStdString());
    const std::shared_ptr<const ShareStorage> storage = bucket.storage();
    const QUrl workerURL(script.value(u"workerURL").toString());
    const QString folder = script.value(u"folder").toString();

    QJsonObject made;
    for (const QJsonValue &value : script.value(u"shares").toArray()) {
        const QJsonObject share = value.toObject();
        QStringList picked;
        QStringList sharedPaths;
        for (const QJsonValue &path : share.value(u"picked").toArray()) {
            picked.append(path.toString());
            sharedPaths.append(QFileInfo(path.toString()).fileName());
        }
        const QDateTime now = QDateTime::currentDateTimeUtc().addSecs(-share.value(u"age").toInteger());
        const ShareRecord record =
            await(ShareCreator(storage, ShareFormat::passwordRounds)
                      .create(ShareFiles::collect(picked), ShareFiles::title(picked), sharedPaths, options(share),
                              workerURL, QStringLiteral("Test machine"), now, ShareFormat::chunkSize, {},
                              [](ShareRecord) -> QCoro::Task<> { co_return; }));

        // The link's objects as the bucket holds them, for the link page's own bucket.
        const RcloneResult copied = await(
            ProcessRunner::run(TestSupport::ShareBucket::rclone(),
                               {QStringLiteral("copy"),
                                QStringLiteral("drive:%1/%2/%3")
                                    .arg(bucket.secrets().bucket, QLatin1String(ShareFormat::sharesFolder), record.id),
                                folder + u'/' + record.id},
                               bucket.environment()));
        if (copied.status != 0)
            throw std::runtime_error("cannot copy the share's objects: " + copied.stderrText().toStdString());

        made.insert(share.value(u"name").toString(),
                    QJsonObject{{QStringLiteral("record"), ShareRecords::decode(ShareRecords::encoded(record))},
                                {QStringLiteral("link"), record.link().toString(QUrl::FullyEncoded)}});
    }
    print(QJsonDocument(made));
    return 0;
}

QString kindName(ShareInfo::Status::Kind kind)
{
    switch (kind) {
    case ShareInfo::Status::live:
        return QStringLiteral("live");
    case ShareInfo::Status::ended:
        return QStringLiteral("ended");
    case ShareInfo::Status::unknown:
        break;
    }
    return QStringLiteral("unknown");
}

int status(const QJsonArray &records)
{
    QJsonArray answers;
    for (const QJsonValue &value : records) {
        const ShareRecord record = ShareRecords::decoded(QJsonDocument(value.toObject()).toJson());
        const HTTPResponse response = await(liveHTTPSend(ShareInfo::request(record)));
        const ShareInfo::Status status = ShareInfo::status(response.status, response.body);
        QJsonObject answer{{QStringLiteral("http"), response.status},
                           {QStringLiteral("status"), kindName(status.kind)}};
        if (status.info) {
            const auto optional = [](const std::optional<qint64> &number) {
                return number ? QJsonValue(*number) : QJsonValue(QJsonValue::Null);
            };
            answer.insert(QStringLiteral("info"),
                          QJsonObject{{QStringLiteral("expiresAt"), optional(status.info->expiresAt)},
                                      {QStringLiteral("maxDownloads"), optional(status.info->maxDownloads)},
                                      {QStringLiteral("downloads"), status.info->downloads},
                                      {QStringLiteral("fileCount"), status.info->fileCount},
                                      {QStringLiteral("totalBytes"), status.info->totalBytes}});
        }
        answers.append(answer);
    }
    print(QJsonDocument(answers));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    const QString command = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    try {
        if (command == u"create")
            return create(readInput().object());
        if (command == u"status")
            return status(readInput().array());
        std::fputs("usage: share-creator create|status < input.json\n", stderr);
        return 2;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "share-creator: %s\n", error.what());
        return 1;
    }
}
