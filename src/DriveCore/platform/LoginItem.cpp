#include "DriveCore/platform/LoginItem.h"

#include "DriveCore/platform/StandardFolders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace DriveCore {

namespace {

// An Exec argument, quoted when it holds anything the desktop-entry format reserves.
QString execArgument(const QString &argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`=%");
    bool plain = !argument.isEmpty();
    for (const QChar c : argument)
        plain = plain && !reserved.contains(c);
    if (plain)
        return argument;
    QString quoted;
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    // In a desktop file a backslash is itself escaped once more, and % becomes %%.
    quoted.replace(u'\\', QStringLiteral("\\\\")).replace(u'%', QStringLiteral("%%"));
    return u'"' + quoted + u'"';
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
