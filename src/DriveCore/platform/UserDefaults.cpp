#include "DriveCore/platform/UserDefaults.h"

#include "DriveCore/platform/StandardFolders.h"
#include "DriveCore/support/JsonReader.h"
#include "DriveCore/support/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>
#include <QVariant>

#include <map>

namespace DriveCore {

namespace {

const Log log("defaults");

// Data values are stored as {"data": "<base64>"}; other types are plain JSON values.
const QString dataKey = QStringLiteral("data");

QJsonValue encode(const UserDefaults::Value &value)
{
    return std::visit(
        [](const auto &v) -> QJsonValue {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, QByteArray>)
                return QJsonObject{{dataKey, QString::fromLatin1(v.toBase64())}};
            else
                return QJsonValue(v);
        },
        value);
}

enum class ReadResult { ok, missing, unreadable };

ReadResult readFile(const QString &path, QJsonObject &out)
{
    QFile file(path);
    if (!file.exists())
        return ReadResult::missing;
    if (!file.open(QIODevice::ReadOnly))
        return ReadResult::unreadable;
    try {
        out = JsonReader::parse(file.readAll(), u"The defaults file").object();
        return ReadResult::ok;
    } catch (const JsonDecodingError &) {
        return ReadResult::unreadable;
    }
}

} // namespace

std::shared_ptr<UserDefaults> UserDefaults::atPath(const QString &path)
{
    static std::map<QString, std::weak_ptr<UserDefaults>> instances;
    const QString key = QFileInfo(path).absoluteFilePath();
    if (auto existing = instances[key].lock())
        return existing;
    auto created = std::make_shared<UserDefaults>(key);
    instances[key] = created;
    return created;
}

std::shared_ptr<UserDefaults> UserDefaults::standard()
{
    return suite(QString::fromLatin1(standardSuite));
}

std::shared_ptr<UserDefaults> UserDefaults::suite(const QString &name)
{
    if (name.isEmpty() || name.contains(u'/') || name.contains(QChar(0)) || name.startsWith(u'.'))
        return nullptr;
    return atPath(StandardFolders::configHome() + u'/' + name + QStringLiteral(".json"));
}

UserDefaults::UserDefaults(QString path) : m_path(std::move(path))
{
    load();
}

void UserDefaults::load()
{
    QJsonObject values;
    if (readFile(m_path, values) == ReadResult::unreadable)
        log.error("Settings file %{private}s could not be read; using none", m_path);
    m_values = values;
}

std::optional<QByteArray> UserDefaults::data(const QString &key) const
{
    const QJsonValue value = m_values.value(key);
    if (!value.isObject())
        return std::nullopt;
    const QJsonValue encoded = value.toObject().value(dataKey);
    if (!encoded.isString())
        return std::nullopt;
    auto decoded =
        QByteArray::fromBase64Encoding(encoded.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

std::optional<QString> UserDefaults::string(const QString &key) const
{
    const QJsonValue value = m_values.value(key);
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

std::optional<bool> UserDefaults::boolean(const QString &key) const
{
    const QJsonValue value = m_values.value(key);
    return value.isBool() ? std::optional(value.toBool()) : std::nullopt;
}

std::optional<qint64> UserDefaults::integer(const QString &key) const
{
    const QJsonValue value = m_values.value(key);
    // Whole numbers are kept as integers by the JSON reader; 30.5 is not an integer value.
    const QVariant variant = value.toVariant();
    if (variant.typeId() != QMetaType::LongLong)
        return std::nullopt;
    return variant.toLongLong();
}

void UserDefaults::set(const QString &key, const Value &value)
{
    write(key, value);
}

void UserDefaults::remove(const QString &key)
{
    write(key, std::nullopt);
}

void UserDefaults::write(const QString &key, const std::optional<Value> &value)
{
    // Merge into the file as it is now, so nothing another writer stored is lost. A file that
    // cannot be read is kept aside rather than overwritten.
    QJsonObject current;
    if (readFile(m_path, current) == ReadResult::unreadable) {
        const QString aside = m_path + QStringLiteral(".unreadable");
        QFile::remove(aside);
        if (!QFile::rename(m_path, aside)) {
            log.error("Settings file %{private}s could not be read or set aside; not writing", m_path);
            return;
        }
        log.error("Settings file %{private}s could not be read; kept it as %{private}s", m_path, aside);
        current = {};
    }
    if (value)
        current.insert(key, encode(*value));
    else
        current.remove(key);
    m_values = current;

    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        log.error("Settings file %{private}s could not be written: %{public}s", m_path, file.errorString());
        return;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(QJsonDocument(current).toJson(QJsonDocument::Indented));
    if (!file.commit())
        log.error("Settings file %{private}s could not be written: %{public}s", m_path, file.errorString());
}

} // namespace DriveCore
