#include "DriveCore/platform/Folders.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#include <system_error>

namespace DriveCore {

std::optional<QStringList> Folders::names(const QString &folder)
{
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return std::nullopt;
    QStringList names;
    errno = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (qstrcmp(name, ".") != 0 && qstrcmp(name, "..") != 0)
            names.append(QFile::decodeName(name));
        errno = 0;
    }
    const bool failed = errno != 0;
    ::closedir(dir);
    if (failed)
        return std::nullopt;
    return names;
}

bool Folders::isDirectory(const QString &path)
{
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode);
}

void Folders::makePath(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    qsizetype next = clean.startsWith(u'/') ? 1 : 0;
    while (next <= clean.size()) {
        qsizetype slash = clean.indexOf(u'/', next);
        if (slash < 0)
            slash = clean.size();
        const QByteArray prefix = QFile::encodeName(clean.left(slash));
        if (::mkdir(prefix.constData(), 0777) != 0) {
            int error = errno;
            struct stat status {};
            if (error == EEXIST)
                error = ::stat(prefix.constData(), &status) != 0 ? errno : S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
            if (error != 0)
                throw std::system_error(error, std::generic_category(), "Could not create " + prefix.toStdString());
        }
        next = slash + 1;
    }
}

} // namespace DriveCore
