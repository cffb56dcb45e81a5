#pragma once

#include "DriveCore/shares/ShareLinks.h"

#include <QByteArray>
#include <QString>

#include <stdexcept>

namespace DriveCore {

// Reads one local file for the chunked share encryption. Blocking: use it on the upload's own
// thread, never on the main thread. Closed when it goes away.
class ShareFileReader {
public:
    // What is at the path is no longer the file that was chosen: a link, another file, or
    // something that is no regular file took its place.
    class NotTheChosenFile : public std::runtime_error {
    public:
        NotTheChosenFile() : std::runtime_error("ShareFileReader::NotTheChosenFile") {}
    };

    // Opens `path` for reading, without following a link there, and only when it is still the
    // regular file `chosen`. Throws NotTheChosenFile, or std::system_error.
    ShareFileReader(const QString &path, const FileIdentity &chosen);
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
