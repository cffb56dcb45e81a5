#pragma once

#include "DriveCore/support/UserError.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace DriveCore {

// Outside JSON that does not fit the type read from it: not JSON, a required key missing or null,
// or a value of another kind.
class JsonDecodingError : public UserError {
public:
    explicit JsonDecodingError(const QString &description) : UserError(description), description(description) {}
    QString description;
};

// Reads one JSON object of outside input strictly: required keys must be present and not null,
// values must have the expected kind, optional ones may be missing. Every decoder of outside JSON
// (engine replies, change notes, records, Cloudflare replies, settings) reads through it; types
// decode themselves with it through a static `decode(const JsonReader &)`.
class JsonReader {
public:
    explicit JsonReader(QJsonObject object, QString path = {}) : m_object(std::move(object)), m_path(std::move(path)) {}

    // The object that `bytes` hold. Throws JsonDecodingError, naming `what` ("The reply is not a
    // JSON object"), for bytes that are not JSON or hold another kind of value.
    static JsonReader parse(const QByteArray &bytes, QStringView what = u"The reply");

    // The object read, for a decoder that keeps it whole.
    const QJsonObject &object() const { return m_object; }
    // Whether `key` holds a value other than null.
    bool has(QStringView key) const;

    // T is QString, qint64 (a number with no fraction), double, bool, a QList of those, or a type
    // with a static decode().
    template<typename T>
    T value(QStringView key) const
    {
        const QJsonValue found = m_object.value(key);
        if (found.isUndefined() || found.isNull())
            throw JsonDecodingError(QStringLiteral("The reply has no value at %1").arg(keyPath(key)));
        return decodeValue<T>(found, keyPath(key));
    }

    // Missing or null gives none.
    template<typename T>
    std::optional<T> optional(QStringView key) const
    {
        const QJsonValue found = m_object.value(key);
        if (found.isUndefined() || found.isNull())
            return std::nullopt;
        return decodeValue<T>(found, keyPath(key));
    }

    // A list whose absence means no entries.
    template<typename T>
    QList<T> listOrEmpty(QStringView key) const
    {
        return optional<QList<T>>(key).value_or(QList<T>{});
    }

private:
    template<typename>
    struct IsList : std::false_type {};
    template<typename U>
    struct IsList<QList<U>> : std::true_type {};

    template<typename T>
    static T decodeValue(const QJsonValue &value, const QString &path)
    {
        if constexpr (std::is_same_v<T, QString>) {
            if (!value.isString())
                throw mismatch("a string", path);
            return value.toString();
        } else if constexpr (std::is_same_v<T, bool>) {
            if (!value.isBool())
                throw mismatch("a Boolean", path);
            return value.toBool();
        } else if constexpr (std::is_same_v<T, qint64>) {
            return integer(value, path);
        } else if constexpr (std::is_same_v<T, double>) {
            if (!value.isDouble())
                throw mismatch("a number", path);
            return value.toDouble();
        } else if constexpr (IsList<T>::value) {
            if (!value.isArray())
                throw mismatch("a list", path);
            const QJsonArray array = value.toArray();
            T list;
            list.reserve(array.size());
            for (qsizetype i = 0; i < array.size(); ++i)
                list.append(decodeValue<typename T::value_type>(array.at(i), path + u'[' + QString::number(i) + u']'));
            return list;
        } else {
            if (!value.isObject())
                throw mismatch("an object", path);
            return T::decode(JsonReader(value.toObject(), path));
        }
    }

    static qint64 integer(const QJsonValue &value, const QString &path);
    static JsonDecodingError mismatch(const char *expected, const QString &path);
    QString keyPath(QStringView key) const;

    QJsonObject m_object;
    QString m_path;
};

} // namespace DriveCore
