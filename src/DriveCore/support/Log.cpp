#include "DriveCore/support/Log.h"

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

namespace DriveCore {

namespace {

QString formatted(const std::string &directive, const LogArg &arg)
{
    // `directive` is "%<flags><width><precision><conversion>"; the length modifier is dropped.
    const char conversion = directive.back();
    const std::string head = directive.substr(0, directive.size() - 1);
    char buffer[128];
    return std::visit(
        [&](const auto &value) -> QString {
            using V = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<V, QString>) {
                return value;
            } else if (conversion == 's' || conversion == '@') {
                return QString::number(value);
            } else if constexpr (std::is_same_v<V, double>) {
                if (conversion == 'd' || conversion == 'i' || conversion == 'u' || conversion == 'c')
                    std::snprintf(buffer, sizeof buffer, (head + "lld").c_str(), qlonglong(value));
                else if (conversion == 'x' || conversion == 'X' || conversion == 'o')
                    std::snprintf(buffer, sizeof buffer, (head + "ll" + conversion).c_str(), qulonglong(value));
                else
                    std::snprintf(buffer, sizeof buffer, directive.c_str(), value);
                return QString::fromUtf8(buffer);
            } else {
                if (conversion == 'e' || conversion == 'E' || conversion == 'f' || conversion == 'g'
                    || conversion == 'G') {
                    std::snprintf(buffer, sizeof buffer, directive.c_str(), double(value));
                } else if (conversion == 'c') {
                    return QString(QChar(char32_t(value)));
                } else if (conversion == 'p') {
                    std::snprintf(buffer, sizeof buffer, "0x%llx", qulonglong(value));
                } else if (conversion == 'd' || conversion == 'i') {
                    std::snprintf(buffer, sizeof buffer, (head + "lld").c_str(), qlonglong(value));
                } else {
                    std::snprintf(buffer, sizeof buffer, (head + "ll" + conversion).c_str(), qulonglong(value));
                }
                return QString::fromUtf8(buffer);
            }
        },
        arg.value());
}

} // namespace

QString formatLogMessage(const char *format, std::span<const LogArg> args, bool showPrivate)
{
    static const std::string conversions = "diouxXeEfgGcsp@";
    QString out;
    size_t next = 0;
    const std::string_view f(format);
    size_t i = 0;
    while (i < f.size()) {
        const size_t percent = f.find('%', i);
        if (percent == std::string_view::npos) {
            out += QString::fromUtf8(f.substr(i).data(), qsizetype(f.size() - i));
            break;
        }
        out += QString::fromUtf8(f.substr(i, percent - i).data(), qsizetype(percent - i));
        i = percent + 1;
        if (i < f.size() && f[i] == '%') {
            out += u'%';
            ++i;
            continue;
        }
        enum class Privacy { unmarked, isPrivate, isPublic } privacy = Privacy::unmarked;
        if (i < f.size() && f[i] == '{') {
            const size_t close = f.find('}', i);
            if (close == std::string_view::npos)
                break;
            const std::string_view marks = f.substr(i + 1, close - i - 1);
            if (marks.find("private") != std::string_view::npos)
                privacy = Privacy::isPrivate;
            else if (marks.find("public") != std::string_view::npos)
                privacy = Privacy::isPublic;
            i = close + 1;
        }
        std::string directive = "%";
        while (i < f.size() && std::string_view("-+ #0123456789.").find(f[i]) != std::string_view::npos)
            directive += f[i++];
        while (i < f.size() && std::string_view("hlqjztL").find(f[i]) != std::string_view::npos)
            ++i;
        if (i >= f.size() || conversions.find(f[i]) == std::string::npos) {
            out += QString::fromStdString(directive);
            continue;
        }
        const char conversion = f[i++];
        directive += conversion;
        const bool isText = conversion == 's' || conversion == '@';
        const bool hidden = privacy == Privacy::isPrivate || (privacy == Privacy::unmarked && isText);
        if (next >= args.size()) {
            out += QStringLiteral("<missing>");
        } else if (hidden && !showPrivate) {
            out += QStringLiteral("<private>");
        } else {
            out += formatted(directive, args[next]);
        }
        ++next;
    }
    return out;
}

bool logShowsPrivate()
{
    static const bool show = qEnvironmentVariable("CORVANE_DRIVE_LOG_PRIVATE") == QLatin1String("1");
    return show;
}

Log::Log(std::string_view category)
{
    // Categories live for the whole process: Qt keeps a pointer to their names.
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<std::pair<std::string, QLoggingCategory *>>, std::less<>>
        categories;
    std::lock_guard lock(mutex);
    auto it = categories.find(category);
    if (it == categories.end()) {
        auto entry = std::make_unique<std::pair<std::string, QLoggingCategory *>>(
            "com.corvane.drive." + std::string(category), nullptr);
        entry->second = new QLoggingCategory(entry->first.c_str(), QtInfoMsg);
        it = categories.emplace(std::string(category), std::move(entry)).first;
    }
    m_category = it->second->second;
}

void Log::write(QtMsgType type, const char *format, std::initializer_list<LogArg> args) const
{
    if (!m_category->isEnabled(type))
        return;
    const QString message = formatLogMessage(format, std::span(args.begin(), args.size()), logShowsPrivate());
    QMessageLogger logger(nullptr, 0, nullptr, m_category->categoryName());
    switch (type) {
    case QtDebugMsg:
        logger.debug("%s", qUtf8Printable(message));
        break;
    case QtInfoMsg:
        logger.info("%s", qUtf8Printable(message));
        break;
    case QtWarningMsg:
        logger.warning("%s", qUtf8Printable(message));
        break;
    default:
        logger.critical("%s", qUtf8Printable(message));
        break;
    }
}

} // namespace DriveCore
