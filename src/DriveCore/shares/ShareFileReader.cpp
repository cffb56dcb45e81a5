#include "DriveCore/shares/ShareFileReader.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DriveCore {

namespace {

std::system_error readError(const QString &name)
{
    return std::system_error(errno, std::generic_category(),
                             QStringLiteral("Couldn't read “%1”").arg(name).toStdString());
}

} // namespace

ShareFileReader::ShareFileReader(const QString &path, const FileIdentity &chosen) : m_name(QFileInfo(path).fileName())
{
    const QByteArray native = QFile::encodeName(path);
    // Choosing the files skipped links, so reading them follows none either. Not blocking, so
    // that a pipe put in the file's place cannot hold the upload before it is told apart.
    do {
        m_fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    } while (m_fd < 0 && errno == EINTR);
    if (m_fd < 0 && errno == ELOOP)
        throw NotTheChosenFile();
    if (m_fd < 0)
        throw readError(m_name);
    struct stat status{};
    if (::fstat(m_fd, &status) != 0) {
        const std::system_error error = readError(m_name);
        ::close(m_fd);
        throw error;
    }
    if (!S_ISREG(status.st_mode) || quint64(status.st_dev) != chosen.device || quint64(status.st_ino) != chosen.inode) {
        ::close(m_fd);
        throw NotTheChosenFile();
    }
    // A regular file reads the same either way; blocking again is only tidiness.
    if (const int flags = ::fcntl(m_fd, F_GETFL); flags >= 0)
        ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK);
}

ShareFileReader::~ShareFileReader()
{
    ::close(m_fd); // a failure to close a file that was only read changes nothing
}

QByteArray ShareFileReader::read(qint64 maxBytes)
{
    QByteArray buffer(qsizetype(std::max<qint64>(maxBytes, 0)), Qt::Uninitialized);
    qsizetype filled = 0;
    // A short read is not the end of the file (a network mount may give less); only 0 is.
    while (filled < buffer.size()) {
        const ssize_t count = ::read(m_fd, buffer.data() + filled, size_t(buffer.size() - filled));
        if (count > 0)
            filled += count;
        else if (count == 0)
            break;
        else if (errno != EINTR)
            throw readError(m_name);
    }
    if (filled == 0)
        return {};
    buffer.truncate(filled);
    return buffer;
}

} // namespace DriveCore
