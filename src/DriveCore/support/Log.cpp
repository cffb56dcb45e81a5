#include "DriveCore/support/Log.h"

#include <QStringView>

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace DriveCore {

namespace {

// One directive as accepted: "%", flags, width and precision (at most three digits each, so a
// printed value stays small), then the conversion. Length modifiers are dropped: arguments
// carry their own size.
struct Directive {
    std::string head; // "%" and the flags, width and precision
    char conversion;
};

constexpr std::string_view conversions = "diouxXeEfgGcsp@";

// Reads a directive from f[i] on (just after the "%" and any privacy marks), moving i past what
// it read. Nothing when the text there is not one; i then stops where it went wrong.
std::optional<Directive> readDirective(std::string_view f, size_t &i)
{
    Directive directive{"%", 0};
    while (i < f.size() && std::string_view("-+ #0").find(f[i]) != std::string_view::npos)
        directive.head += f[i++];
    const auto digits = [&] {
        size_t count = 0;
        while (i < f.size() && f[i] >= '0' && f[i] <= '9' && count < 3) {
            directive.head += f[i++];
            ++count;
        }
        return i >= f.size() || f[i] < '0' || f[i] > '9';
    };
    if (!digits())
        return std::nullopt;
    if (i < f.size() && f[i] == '.') {
        directive.head += f[i++];
        if (!digits())
            return std::nullopt;
    }
    while (i < f.size() && std::string_view("hlqjztL").find(f[i]) != std::string_view::npos)
        ++i;
    if (i >= f.size() || conversions.find(f[i]) == std::string_view::npos)
        return std::nullopt;
    directive.conversion = f[i++];
    return directive;
}

// printf of one value, through a buffer as long as the output needs.
template<typename T>
QString printed(const std::string &format, T value)
{
    const int length = std::snprintf(nullptr, 0, format.c_str(), value);
    if (length <= 0)
        return {};
    std::string text(size_t(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format.c_str(), value);
    text.resize(size_t(length));
    return QString::fromStdString(text);
}

// The character of a Unicode scalar value; U+FFFD for a number that is none.
QString character(qulonglong value)
{
    if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return QString(QChar::ReplacementCharacter);
    return QStringView(QChar::fromUcs4(char32_t(value))).toString();
}

template<typename I>
QString integral(const Directive &d, I value)
{
    switch (d.conversion) {
    case 'c':
        if constexpr (std::is_signed_v<I>) {
            if (value < 0)
                return QString(QChar::ReplacementCharacter);
        }
        return character(qulonglong(value));
    case 'p':
        return printed("0x%llx", qulonglong(value));
    case 'd':
    case 'i':
        if constexpr (std::is_signed_v<I>)
            return printed(d.head + "lld", value);
        else
            return printed(d.head + "llu", value);
    case 'e':
    case 'E':
    case 'f':
    case 'g':
    case 'G':
        return printed(d.head + d.conversion, double(value));
    default: // u, o, x, X: two's complement for negative numbers, as printf has it
        return printed(d.head + "ll" + d.conversion, qulonglong(value));
    }
}

QString floating(const Directive &d, double value)
{
    switch (d.conversion) {
    case 'e':
    case 'E':
    case 'f':
    case 'g':
    case 'G':
        return printed(d.head + d.conversion, value);
    default:
        break;
    }
    // Under an integer conversion a double goes in as its whole part when that fits; a value
    // out of range (or not a number) is written as the double it is, never converted blindly.
    if (value >= -0x1p63 && value < 0x1p63)
        return integral(d, qlonglong(value));
    const bool unsignedConversion = std::string_view("uoxXp").find(d.conversion) != std::string_view::npos;
    if (unsignedConversion && value >= 0 && value < 0x1p64)
        return integral(d, qulonglong(value));
    return printed(d.head + 'g', value);
}

QString formatted(const Directive &d, const LogArg &arg)
{
    return std::visit(
        [&](const auto &value) -> QString {
            using V = std::decay_t<decltype(value)>;
            if constexpr (std::is_same_v<V, QString>)
                return value;
            else if (d.conversion == 's' || d.conversion == '@')
                return QString::number(value);
            else if constexpr (std::is_same_v<V, double>)
                return floating(d, value);
            else
                return integral(d, value);
        },
        arg.value());
}

} // namespace

QString formatLogMessage(const char *format, std::span<const LogArg> args, bool showPrivate)
{
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
            if (close == std::string_view::npos) {
                out += QString::fromUtf8(f.substr(percent).data(), qsizetype(f.size() - percent));
                break;
            }
            const std::string_view marks = f.substr(i + 1, close - i - 1);
            if (marks.find("private") != std::string_view::npos)
                privacy = Privacy::isPrivate;
            else if (marks.find("public") != std::string_view::npos)
                privacy = Privacy::isPublic;
            i = close + 1;
        }
        const size_t start = i;
        const std::optional<Directive> directive = readDirective(f, i);
        if (!directive) {
            // Not a directive: written as it stands, and no argument is used.
            out += u'%' + QString::fromUtf8(f.substr(start, i - start).data(), qsizetype(i - start));
            continue;
        }
        const bool isText = directive->conversion == 's' || directive->conversion == '@';
        const bool hidden = privacy == Privacy::isPrivate || (privacy == Privacy::unmarked && isText);
        if (next >= args.size()) {
            out += QStringLiteral("<missing>");
        } else if (hidden && !showPrivate) {
            out += QStringLiteral("<private>");
        } else {
            out += formatted(*directive, args[next]);
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
    // Categories live for the whole process: Qt keeps a pointer to their names, and a Log kept
    // in a static may still write while other statics are destroyed. So the table is never
    // destroyed, and stays reachable for the leak checker.
    struct Entry {
        explicit Entry(std::string name) : name(std::move(name)), category(this->name.c_str(), QtInfoMsg) {}
        std::string name;
        QLoggingCategory category;
    };
    static std::mutex mutex;
    static auto *const categories = new std::map<std::string, std::unique_ptr<Entry>, std::less<>>;
    std::lock_guard lock(mutex);
    auto it = categories->find(category);
    if (it == categories->end())
        it = categories
                 ->emplace(std::string(category), std::make_unique<Entry>("com.corvane.drive." + std::string(category)))
                 .first;
    m_category = &it->second->category;
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
