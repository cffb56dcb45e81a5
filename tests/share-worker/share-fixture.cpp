// Makes a share link's objects with the application's own share format, so the link page's
// tests open what the application seals. Reads one JSON object on standard input:
//
//   {"folder": "/tmp/x", "title": "Holiday", "password": "secret" (optional),
//    "rounds": 1000, "chunkSize": 1048576, "createdAt": 1760000000,
//    "expiresAt": 1760003600 (optional), "maxDownloads": 1 (optional),
//    "files": [{"path": "a/b.txt", "source": "/tmp/plain/b.txt", "modified": "2026-03-04T05:06:07Z"}]}
//
// and writes "<folder>/<id>/f/<i>", "<folder>/<id>/manifest" and "<folder>/<id>/meta.json"; it
// prints {"id", "secret", "accessToken", "accessHash"}, the last three as the link and the
// application's status request carry them.
#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/shares/ShareManifest.h"
#include "DriveCore/shares/ShareMeta.h"
#include "DriveCore/support/Base64URL.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <exception>
#include <optional>

using namespace DriveCore;

namespace {

std::optional<qint64> optionalInteger(const QJsonObject &json, const char *key)
{
    const QJsonValue value = json.value(QLatin1String(key));
    return value.isDouble() ? std::optional(value.toInteger()) : std::nullopt;
}

void write(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

// The sealed object of one file, streamed from its source as the share creator does.
qint64 sealFile(const QString &source, const QString &target, const QByteArray &contentKey, qint64 index,
                qint64 chunkSize)
{
    QFile in(source);
    QDir().mkpath(QFileInfo(target).path());
    QFile out(target);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot open " + source.toStdString());
    return ShareFormat::encryptStream(
        contentKey, index, chunkSize, [&](qint64 maxBytes) { return in.read(maxBytes); },
        [&](const QByteArray &chunk) {
            if (out.write(chunk) != chunk.size())
                throw std::runtime_error("cannot write " + target.toStdString());
        });
}

int run()
{
    QFile input;
    if (!input.open(stdin, QIODevice::ReadOnly))
        throw std::runtime_error("no standard input");
    const QJsonObject spec = QJsonDocument::fromJson(input.readAll()).object();
    const qint64 chunkSize = optionalInteger(spec, "chunkSize").value_or(ShareFormat::chunkSize);
    const qint64 rounds = optionalInteger(spec, "rounds").value_or(ShareFormat::passwordRounds);
    const QJsonValue passwordValue = spec.value(QLatin1String("password"));
    const std::optional<QString> password =
        passwordValue.isString() ? std::optional(passwordValue.toString()) : std::nullopt;

    const QString id = ShareFormat::newShareID();
    const QByteArray secret = ShareFormat::newSecret();
    const ShareFormat::Keys keys = ShareFormat::deriveKeys(id, secret, password, uint32_t(rounds));
    const QString folder = spec.value(QLatin1String("folder")).toString() + u'/' + id + u'/';

    QList<ShareManifest::File> files;
    QList<qint64> encryptedSizes;
    qint64 totalBytes = 0;
    const QJsonArray list = spec.value(QLatin1String("files")).toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QJsonObject file = list.at(i).toObject();
        const qint64 size = sealFile(file.value(QLatin1String("source")).toString(), folder + "f/" + QString::number(i),
                                     keys.contentKey, i, chunkSize);
        const QJsonValue modified = file.value(QLatin1String("modified"));
        files.append({file.value(QLatin1String("path")).toString(), size,
                      modified.isString() ? std::optional(modified.toString()) : std::nullopt});
        encryptedSizes.append(ShareFormat::encryptedSize(size, chunkSize));
        totalBytes += size;
    }
    const ShareManifest manifest(spec.value(QLatin1String("title")).toString(), chunkSize, files);
    write(folder + "manifest", ShareFormat::encryptManifest(manifest, keys.contentKey));
    const ShareMeta meta(keys.accessHash, password.has_value(), rounds, optionalInteger(spec, "createdAt").value_or(0),
                         optionalInteger(spec, "expiresAt"), optionalInteger(spec, "maxDownloads"), files.size(),
                         totalBytes, encryptedSizes);
    write(folder + "meta.json", meta.encoded());

    const QJsonObject link{
        {QStringLiteral("id"), id},
        {QStringLiteral("secret"), Base64URL::encode(secret)},
        {QStringLiteral("accessToken"), Base64URL::encode(keys.accessToken)},
        {QStringLiteral("accessHash"), keys.accessHash},
    };
    std::fputs(QJsonDocument(link).toJson(QJsonDocument::Compact).constData(), stdout);
    return 0;
}

} // namespace

int main()
{
    try {
        return run();
    } catch (const std::exception &error) {
        std::fprintf(stderr, "share-fixture: %s\n", error.what());
        return 1;
    }
}
