#include "DriveCore/platform/Folders.h"

#include "DriveCore/platform/UniqueFd.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
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
    struct stat status{};
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
            struct stat status{};
            if (error == EEXIST)
                error = ::stat(prefix.constData(), &status) != 0 ? errno : S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
            if (error != 0)
                throw std::system_error(error, std::generic_category(), "Could not create " + prefix.toStdString());
        }
        next = slash + 1;
    }
}

namespace {

// What was not there, or was a link where a folder was expected, is nothing to remove.
bool isAbsent(int error)
{
    return error == ENOENT || error == ENOTDIR || error == ELOOP;
}

std::system_error failure(int error, const QString &what)
{
    return std::system_error(error, std::generic_category(), what.toStdString());
}

} // namespace

bool Folders::removeFileBeneath(const QString &folder, const QString &relative,
                                const std::function<bool(qint64 size)> &shouldRemove)
{
    const QStringList parts = relative.split(u'/');
    for (const QString &part : parts) {
        if (part.isEmpty() || part == u"." || part == u"..")
            return false;
    }
    UniqueFd at(::open(QFile::encodeName(folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (qsizetype i = 0; at.get() >= 0 && i + 1 < parts.size(); ++i) {
        const QByteArray part = QFile::encodeName(parts[i]);
        at.reset(::openat(at.get(), part.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    struct stat status{};
    const QByteArray name = QFile::encodeName(parts.last());
    if (at.get() < 0 || ::fstatat(at.get(), name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (isAbsent(errno))
            return false;
        throw failure(errno, relative);
    }
    if (!S_ISREG(status.st_mode) || !shouldRemove(qint64(status.st_size)))
        return false;
    if (::unlinkat(at.get(), name.constData(), 0) != 0) {
        if (errno == ENOENT)
            return false;
        throw failure(errno, relative);
    }
    return true;
}

} // namespace DriveCore
