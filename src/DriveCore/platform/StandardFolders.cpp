#include "DriveCore/platform/StandardFolders.h"

#include <QDir>

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

namespace DriveCore {

namespace {

// XDG variables count only when they hold an absolute path.
QString xdg(const char *variable, const QString &fallbackBelowHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (value.startsWith(u'/'))
        return QDir::cleanPath(value);
    return StandardFolders::home() + u'/' + fallbackBelowHome;
}

} // namespace

QString StandardFolders::home()
{
    // A relative home would put every folder below wherever the program was started.
    const QString value = qEnvironmentVariable("HOME");
    if (value.startsWith(u'/'))
        return QDir::cleanPath(value);
    if (const passwd *entry = getpwuid(getuid()); entry && entry->pw_dir)
        return QDir::cleanPath(QString::fromLocal8Bit(entry->pw_dir));
    return QStringLiteral("/");
}

QString StandardFolders::configHome()
{
    return xdg("XDG_CONFIG_HOME", QStringLiteral(".config"));
}
QString StandardFolders::dataHome()
{
    return xdg("XDG_DATA_HOME", QStringLiteral(".local/share"));
}
QString StandardFolders::stateHome()
{
    return xdg("XDG_STATE_HOME", QStringLiteral(".local/state"));
}

QString StandardFolders::temporary()
{
    const QString value = qEnvironmentVariable("TMPDIR");
    return value.startsWith(u'/') ? QDir::cleanPath(value) : QStringLiteral("/tmp");
}

TemporaryFolder::TemporaryFolder(const QString &prefix)
{
    QByteArray pattern = QFile::encodeName(StandardFolders::temporary() + u'/' + prefix + QStringLiteral("-XXXXXX"));
    // mkdtemp makes the folder with mode 0700.
    if (!mkdtemp(pattern.data()))
        throw std::system_error(errno, std::generic_category(), "Could not make a temporary folder");
    m_path = QFile::decodeName(pattern);
}

TemporaryFolder::~TemporaryFolder()
{
    QDir(m_path).removeRecursively();
}

} // namespace DriveCore
