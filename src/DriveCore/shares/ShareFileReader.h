#pragma once

#include <QByteArray>
#include <QString>

namespace DriveCore {

// Reads one local file for the chunked share encryption. Blocking: use it on the upload's own
// thread, never on the main thread. Closed when it goes away.
class ShareFileReader {
public:
    // Opens `path` for reading. Throws std::system_error.
    explicit ShareFileReader(const QString &path);
    ShareFileReader(const ShareFileReader &) = delete;
    ShareFileReader &operator=(const ShareFileReader &) = delete;
    ~ShareFileReader();

    // A new buffer of `maxBytes` bytes, fewer only at the end of the file, none after it. The
    // buffer is the caller's to keep: the encryption holds a full chunk as it was read, without
    // a copy. Throws std::system_error.
    QByteArray read(qint64 maxBytes);

private:
    QString m_name;
    int m_fd;
};

} // namespace DriveCore
