#include "DriveCore/platform/LoginItem.h"

#include "DriveCore/platform/StandardFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace DriveCore {

namespace {

// An Exec argument as the desktop-entry rules want it: quoted when it holds a reserved
// character, with ", `, $ and \ escaped inside the quotes and % doubled; then written as a
// string value, whose own escapes turn backslash, newline, tab and carriage return into
// "\\", "\n", "\t" and "\r". A value holds no other control character: such an argument is
// refused.
QString execArgument(const QString &argument)
{
    static const QString reserved = QStringLiteral(" \t\n\r\"'\\><~|&;$*?#()`=%");
    bool plain = !argument.isEmpty();
    for (const QChar c : argument)
        plain = plain && !reserved.contains(c);
    QString quoted;
    if (plain) {
        quoted = argument;
    } else {
        for (const QChar c : argument) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                quoted += u'\\';
            quoted += c;
        }
        quoted = u'"' + quoted + u'"';
    }
    QString value;
    for (const QChar c : quoted) {
        if (c == u'\\')
            value += QStringLiteral("\\\\");
        else if (c == u'\n')
            value += QStringLiteral("\\n");
        else if (c == u'\t')
            value += QStringLiteral("\\t");
        else if (c == u'\r')
            value += QStringLiteral("\\r");
        else if (c == u'%')
            value += QStringLiteral("%%");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            throw LoginItem::Failure(
                QStringLiteral("A login item can't start a program whose path or profile holds a control character"));
        else
            value += c;
    }
    return value;
}

} // namespace

QString LoginItem::entryPath(const std::optional<QString> &profile)
{
    QString name = QStringLiteral("com.corvane.drive");
    if (profile)
        name += u'.' + *profile;
    return StandardFolders::configHome() + QStringLiteral("/autostart/") + name + QStringLiteral(".desktop");
}

QByteArray LoginItem::entry(const QString &program, const std::optional<QString> &profile)
{
    QString exec = execArgument(program);
    if (profile)
        exec += QStringLiteral(" -OvraProfile ") + execArgument(*profile);
    QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=Ovra\nExec=") + exec
        + QStringLiteral("\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

void LoginItem::set(bool on, const QString &program, const std::optional<QString> &profile)
{
    const QString path = entryPath(profile);
    if (!on) {
        QFile file(path);
        if (file.exists() && !file.remove())
            throw Failure(QStringLiteral("%1 couldn't be removed: %2").arg(path, file.errorString()));
        return;
    }
    if (!QDir().mkpath(QFileInfo(path).path()))
        throw Failure(QStringLiteral("%1 couldn't be made").arg(QFileInfo(path).path()));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(entry(program, profile)) < 0 || !file.commit())
        throw Failure(QStringLiteral("%1 couldn't be written: %2").arg(path, file.errorString()));
}

} // namespace DriveCore
