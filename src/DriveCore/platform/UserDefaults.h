#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <memory>
#include <optional>
#include <variant>

namespace DriveCore {

// A suite of typed settings kept in one JSON file, $XDG_CONFIG_HOME/<suite>.json. Values keep
// their type: data, string, Boolean or integer; reading a key as another type gives nothing.
// Main-thread object; writes are atomic and merge with the file as it is on disk.
class UserDefaults {
public:
    using Value = std::variant<QByteArray, QString, bool, qint64>;

    static constexpr const char *standardSuite = "com.corvane.drive";

    // The shared instance for the file at `path`.
    static std::shared_ptr<UserDefaults> atPath(const QString &path);
    // The standard suite.
    static std::shared_ptr<UserDefaults> standard();
    // A named suite, or none when the name cannot be a file name.
    static std::shared_ptr<UserDefaults> suite(const QString &name);

    explicit UserDefaults(QString path);

    std::optional<QByteArray> data(const QString &key) const;
    std::optional<QString> string(const QString &key) const;
    std::optional<bool> boolean(const QString &key) const;
    std::optional<qint64> integer(const QString &key) const;
    bool contains(const QString &key) const { return m_values.contains(key); }

    void set(const QString &key, const Value &value);
    void remove(const QString &key);

    const QString &path() const { return m_path; }

private:
    void load();
    void write(const QString &key, const std::optional<Value> &value);

    QString m_path;
    QJsonObject m_values;
};

} // namespace DriveCore
