#pragma once

#include <QByteArray>
#include <QString>

namespace DriveCore {

// A folder of one operation in the temporary folder ($TMPDIR when absolute, else /tmp), readable
// only by us, removed with everything in it when this goes away. What passes through it may be
// secret (link secrets and passwords), so its files are readable only by us too. Blocking: make,
// fill and read it in the pool.
class ScratchFolder {
public:
    // "<temporary folder>/<prefix>" and six random characters, made by mkdtemp (mode 0700),
    // after the temporary folder and its missing parents. Throws std::system_error.
    explicit ScratchFolder(const QString &prefix);
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;
    // Removes the folder; a failure to remove it is ignored.
    ~ScratchFolder();

    const QString &path() const { return m_path; }

    // Writes a new file of mode 0600. Throws std::system_error.
    void write(const QString &name, const QByteArray &data) const;
    // Reads a file whole and removes it, so a folder that passes many files stays small.
    // Throws std::system_error.
    QByteArray take(const QString &name) const;

private:
    QString m_path;
};

} // namespace DriveCore
