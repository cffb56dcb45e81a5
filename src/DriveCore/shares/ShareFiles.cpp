#include "DriveCore/shares/ShareFiles.h"

#include "DriveCore/platform/LocalizedText.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <system_error>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DriveCore::ShareFiles {

namespace {

QString lastComponent(const QString &path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(u'/'))
        trimmed.chop(1);
    return trimmed.mid(trimmed.lastIndexOf(u'/') + 1);
}

bool isHidden(const QString &name)
{
    return name.startsWith(u'.');
}

// lstat: a symbolic link is looked at, never followed.
struct stat lookAt(const QString &path)
{
    struct stat status;
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        throw std::system_error(errno, std::generic_category(), lastComponent(path).toStdString());
    return status;
}

ShareItem item(const QString &sharePath, const QString &url, const struct stat &status)
{
    const qint64 milliseconds = qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000;
    return {sharePath, url, qint64(status.st_size), QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC),
            FileIdentity{quint64(status.st_dev), quint64(status.st_ino)}};
}

// A depth-first walk below one picked folder, through directory descriptors, that yields files
// and folders alike and stops at the first thing it cannot read.
class FolderWalk {
public:
    struct Entry {
        QString url;
        QString sharePath;
        size_t order; // in the walk
        struct stat status; // as the walk saw it, relative to its folder, so no link on the way counts
    };

    void walk(int fd, const QString &url, const QString &sharePath)
    {
        DIR *dir = ::fdopendir(fd);
        if (!dir) {
            ::close(fd);
            fail(url);
            return;
        }
        for (;;) {
            errno = 0;
            const dirent *found = ::readdir(dir);
            if (!found) {
                if (errno != 0)
                    fail(url);
                break;
            }
            const QString name = QFile::decodeName(found->d_name);
            if (isHidden(name)) // also "." and ".."
                continue;
            const QString childURL = url + u'/' + name;
            const QString childPath = sharePath + u'/' + name;
            struct stat status;
            if (::fstatat(::dirfd(dir), found->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) {
                fail(childURL);
                break;
            }
            entries.push_back({childURL, childPath, entries.size(), status});
            if (S_ISDIR(status.st_mode)) {
                const int child =
                    ::openat(::dirfd(dir), found->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (child < 0)
                    fail(childURL);
                else
                    walk(child, childURL, childPath);
                if (failed)
                    break;
            }
        }
        ::closedir(dir);
    }

    void fail(const QString &url)
    {
        if (!failed)
            failed = url;
    }

    std::vector<Entry> entries;
    std::optional<QString> failed; // the first item that could not be read
};

void addFolder(const QString &folder, QList<ShareItem> &items)
{
    const QString folderName = lastComponent(folder);
    FolderWalk walk;
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        throw Failure(Failure::unreadable, folderName);
    QString base = folder;
    while (base.size() > 1 && base.endsWith(u'/'))
        base.chop(1);
    walk.walk(fd, base, folderName);
    if (walk.failed)
        throw Failure(Failure::unreadable, lastComponent(*walk.failed));

    // Stable: equal names keep the walk's order.
    std::sort(walk.entries.begin(), walk.entries.end(), [](const auto &a, const auto &b) {
        const int order = LocalizedText::compare(a.sharePath, b.sharePath);
        return order != 0 ? order < 0 : a.order < b.order;
    });
    for (const FolderWalk::Entry &entry : walk.entries) {
        if (S_ISREG(entry.status.st_mode))
            items.append(item(entry.sharePath, entry.url, entry.status));
    }
}

} // namespace

Failure::Failure(Case value, QString name)
    : std::runtime_error(value == unreadable ? "ShareFiles::Failure::unreadable"
                                             : "ShareFiles::Failure::nothingToShare"),
      value(value), name(std::move(name))
{
}

QList<ShareItem> collect(const QStringList &picked)
{
    QList<ShareItem> items;
    for (const QString &url : picked) {
        const struct stat status = lookAt(url);
        if (S_ISLNK(status.st_mode))
            continue;
        if (S_ISDIR(status.st_mode)) {
            addFolder(url, items); // walked whatever its name, a hidden one too
            continue;
        }
        const QString name = lastComponent(url);
        if (!isHidden(name) && S_ISREG(status.st_mode))
            items.append(item(name, url, status));
    }
    if (items.isEmpty())
        throw Failure(Failure::nothingToShare);
    return items;
}

QString title(const QStringList &picked)
{
    if (picked.isEmpty())
        return QStringLiteral("Shared files");
    const QString first = lastComponent(picked.first());
    if (picked.size() == 1)
        return first;
    return first + QStringLiteral(" and ") + QString::number(picked.size() - 1) + QStringLiteral(" more");
}

} // namespace DriveCore::ShareFiles
