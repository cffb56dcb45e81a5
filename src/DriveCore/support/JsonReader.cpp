#include "DriveCore/support/JsonReader.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace DriveCore {

JsonReader JsonReader::parse(const QByteArray &bytes, QStringView what)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw JsonDecodingError(what.toString() + QStringLiteral(" is not valid JSON: ") + parseError.errorString());
    if (!document.isObject())
        throw JsonDecodingError(what.toString() + QStringLiteral(" is not a JSON object"));
    return JsonReader(document.object());
}

bool JsonReader::has(QStringView key) const
{
    const QJsonValue found = m_object.value(key);
    return !found.isUndefined() && !found.isNull();
}

qint64 JsonReader::integer(const QJsonValue &value, const QString &path)
{
    if (!value.isDouble())
        throw mismatch("an integer", path);
    // Qt keeps integer literals exactly; a fraction or an out-of-range number does not fit.
    const qint64 integer = value.toInteger();
    if (double(integer) != value.toDouble())
        throw mismatch("an integer", path);
    return integer;
}

JsonDecodingError JsonReader::mismatch(const char *expected, const QString &path)
{
    return JsonDecodingError(QStringLiteral("Expected %1 at %2").arg(QLatin1String(expected), path));
}

QString JsonReader::keyPath(QStringView key) const
{
    return m_path.isEmpty() ? key.toString() : m_path + u'.' + key.toString();
}

} // namespace DriveCore
