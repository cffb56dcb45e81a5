#include "DriveCore/shares/ShareManifest.h"

#include "DriveCore/support/JsonReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QVariant>

#include <limits>

namespace DriveCore {

namespace {

// QJsonObject keeps its keys sorted and Qt never escapes "/", which is exactly the form
// the link page expects.
QJsonObject object(const ShareManifest::File &file)
{
    QJsonObject json{{QStringLiteral("path"), file.path}, {QStringLiteral("size"), file.size}};
    if (file.modified)
        json.insert(QStringLiteral("modified"), *file.modified);
    return json;
}

[[noreturn]] void bad(const char *what)
{
    throw ShareManifest::DecodingError(what);
}

QString string(const QJsonObject &json, const QString &key)
{
    const QJsonValue value = json.value(key);
    if (!value.isString())
        bad("a manifest text is missing");
    return value.toString();
}

// Only JSON integers: a fraction is not a size.
qint64 integer(const QJsonObject &json, const QString &key)
{
    const QVariant value = json.value(key).toVariant();
    if (value.typeId() != QMetaType::LongLong)
        bad("a manifest number is missing");
    return value.toLongLong();
}

// A size or count that cannot be negative.
qint64 nonNegative(const QJsonObject &json, const QString &key)
{
    const qint64 value = integer(json, key);
    if (value < 0)
        bad("a manifest size is negative");
    return value;
}

} // namespace

QByteArray ShareManifest::json() const
{
    QJsonArray list;
    for (const File &file : files)
        list.append(object(file));
    const QJsonObject json{
        {QStringLiteral("v"), v},
        {QStringLiteral("title"), title},
        {QStringLiteral("chunkSize"), chunkSize},
        {QStringLiteral("files"), list},
    };
    return QJsonDocument(json).toJson(QJsonDocument::Compact);
}

ShareManifest ShareManifest::fromJson(const QByteArray &bytes)
{
    QJsonObject json;
    try {
        json = JsonReader::parse(bytes, u"The manifest").object();
    } catch (const JsonDecodingError &) {
        bad("the manifest is not a JSON object");
    }
    const QJsonValue list = json.value(QStringLiteral("files"));
    if (!list.isArray())
        bad("the manifest has no file list");

    QList<File> files;
    for (const QJsonValue &entry : list.toArray()) {
        if (!entry.isObject())
            bad("a manifest file is not an object");
        const QJsonObject file = entry.toObject();
        const QJsonValue modified = file.value(QStringLiteral("modified"));
        if (!modified.isUndefined() && !modified.isNull() && !modified.isString())
            bad("a manifest date is not a text");
        files.append({string(file, QStringLiteral("path")), nonNegative(file, QStringLiteral("size")),
                      modified.isString() ? std::optional(modified.toString()) : std::nullopt});
    }
    const qint64 chunkSize = integer(json, QStringLiteral("chunkSize"));
    if (chunkSize <= 0)
        bad("the manifest's chunk size is not positive");
    const qint64 version = integer(json, QStringLiteral("v"));
    if (version < std::numeric_limits<int>::min() || version > std::numeric_limits<int>::max())
        bad("the manifest's version is out of range");
    ShareManifest manifest(string(json, QStringLiteral("title")), chunkSize, std::move(files));
    manifest.v = int(version);
    return manifest;
}

} // namespace DriveCore
