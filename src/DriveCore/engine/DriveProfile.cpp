#include "DriveCore/engine/DriveProfile.h"

#include <QFile>

namespace DriveCore {

namespace {

QStringList processArguments()
{
    // Read from the kernel so the answer does not depend on when the application object exists.
    QFile file(QStringLiteral("/proc/self/cmdline"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList arguments;
    for (const QByteArray &argument : file.readAll().split('\0'))
        arguments << QString::fromLocal8Bit(argument);
    if (!arguments.isEmpty() && arguments.last().isEmpty())
        arguments.removeLast();
    return arguments;
}

} // namespace

const std::optional<QString> &DriveProfile::current()
{
    static const std::optional<QString> profile = parse(processArguments());
    return profile;
}

std::optional<QString> DriveProfile::parse(const QStringList &arguments)
{
    const qsizetype flag = arguments.indexOf(QStringLiteral("-OvraProfile"));
    if (flag < 0 || flag + 1 >= arguments.size())
        return std::nullopt;
    const QString value = arguments.at(flag + 1).toLower();
    if (value.isEmpty() || value.size() > 16)
        return std::nullopt;
    for (const QChar c : value) {
        if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')))
            return std::nullopt;
    }
    return value;
}

std::optional<QString> DriveProfile::defaultsSuite(const std::optional<QString> &profile)
{
    if (!profile)
        return std::nullopt;
    return QStringLiteral("com.corvane.drive.") + *profile;
}

QString DriveProfile::keychainService(const std::optional<QString> &profile)
{
    return profile ? QStringLiteral("com.corvane.drive.") + *profile : QStringLiteral("com.corvane.drive");
}

QString DriveProfile::applicationFolder(const std::optional<QString> &profile)
{
    return profile ? QStringLiteral("CorvaneDrive-") + *profile : QStringLiteral("CorvaneDrive");
}

} // namespace DriveCore
