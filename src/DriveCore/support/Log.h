#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

#include <concepts>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace DriveCore {

// One argument of a log format: a number or a text.
class LogArg {
public:
    template<std::signed_integral I>
    LogArg(I value) : m_value(qlonglong(value))
    {
    }
    template<std::unsigned_integral U>
    LogArg(U value) : m_value(qulonglong(value))
    {
    }
    LogArg(bool value) : m_value(qlonglong(value)) {}
    LogArg(double value) : m_value(value) {}
    LogArg(const QString &value) : m_value(value) {}
    LogArg(const char *value) : m_value(QString::fromUtf8(value)) {}
    LogArg(const std::string &value) : m_value(QString::fromStdString(value)) {}
    LogArg(std::string_view value) : m_value(QString::fromUtf8(value.data(), qsizetype(value.size()))) {}
    LogArg(const QByteArray &value) : m_value(QString::fromUtf8(value)) {}

    const std::variant<qlonglong, qulonglong, double, QString> &value() const { return m_value; }

private:
    std::variant<qlonglong, qulonglong, double, QString> m_value;
};

// Expands a printf-style format. "%{private}s" and "%{public}s" mark an argument's privacy;
// unmarked texts (%s, %@) are private and numbers public. Private arguments are written as
// "<private>" unless `showPrivate`.
QString formatLogMessage(const char *format, std::span<const LogArg> args, bool showPrivate);

// Whether the developer switch CORVANE_DRIVE_LOG_PRIVATE=1 is set (read once).
bool logShowsPrivate();

// Logs under the Qt logging category "com.corvane.drive.<category>".
class Log {
public:
    explicit Log(std::string_view category);

    template<typename... A>
    void debug(const char *format, const A &...args) const
    {
        write(QtDebugMsg, format, {LogArg(args)...});
    }
    template<typename... A>
    void info(const char *format, const A &...args) const
    {
        write(QtInfoMsg, format, {LogArg(args)...});
    }
    template<typename... A>
    void notice(const char *format, const A &...args) const
    {
        write(QtInfoMsg, format, {LogArg(args)...});
    }
    template<typename... A>
    void error(const char *format, const A &...args) const
    {
        write(QtWarningMsg, format, {LogArg(args)...});
    }
    template<typename... A>
    void fault(const char *format, const A &...args) const
    {
        write(QtCriticalMsg, format, {LogArg(args)...});
    }

    const QLoggingCategory &category() const { return *m_category; }

private:
    void write(QtMsgType type, const char *format, std::initializer_list<LogArg> args) const;

    const QLoggingCategory *m_category;
};

} // namespace DriveCore
