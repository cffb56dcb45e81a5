#include "DriveCore/shares/ScratchFolder.h"

#include "DriveCore/platform/Folders.h"
#include "DriveCore/platform/StandardFolders.h"
#include "DriveCore/platform/UniqueFd.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DriveCore {

namespace {

std::system_error fileError(const char *what, const QString &name)
{
    return std::system_error(errno, std::generic_category(),
                             QStringLiteral("Couldn't %1 “%2”").arg(QLatin1String(what), name).toStdString());
}

} // namespace

ScratchFolder::ScratchFolder(const QString &prefix)
{
    // Not QDir::tempPath(): it gives "" for a folder that does not exist yet, which would put
    // the scratch folder at the root.
    const QString temporary = StandardFolders::temporary();
    Folders::makePath(temporary);
    QByteArray pattern = QFile::encodeName(temporary + u'/' + prefix + QStringLiteral("XXXXXX"));
    if (!::mkdtemp(pattern.data()))
        throw fileError("make the folder", prefix);
    m_path = QFile::decodeName(pattern);
}

ScratchFolder::~ScratchFolder()
{
    QDir(m_path).removeRecursively();
}

void ScratchFolder::write(const QString &name, const QByteArray &data) const
{
    const QByteArray path = QFile::encodeName(m_path + u'/' + name);
    const UniqueFd file(::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (file.get() < 0)
        throw fileError("write", name);
    qsizetype written = 0;
    while (written < data.size()) {
        const ssize_t count = ::write(file.get(), data.constData() + written, size_t(data.size() - written));
        if (count < 0 && errno != EINTR)
            throw fileError("write", name);
        if (count > 0)
            written += count;
    }
}

QByteArray ScratchFolder::take(const QString &name) const
{
    const QByteArray path = QFile::encodeName(m_path + u'/' + name);
    QByteArray data;
    {
        const UniqueFd file(::open(path.constData(), O_RDONLY | O_CLOEXEC));
        if (file.get() < 0)
            throw fileError("read", name);
        char buffer[65536];
        for (;;) {
            const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
            if (count == 0)
                break;
            if (count < 0 && errno != EINTR)
                throw fileError("read", name);
            if (count > 0)
                data.append(buffer, count);
        }
    }
    ::unlink(path.constData());
    return data;
}

} // namespace DriveCore
