#pragma once

#include "DriveCore/shares/ShareLinks.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <stdexcept>

namespace DriveCore::ShareFiles {

// Why picked items give no share. No text of its own: the share window words each case.
class Failure : public std::runtime_error {
public:
    enum Case {
        unreadable, // a picked folder, or something inside it, could not be read
        nothingToShare, // no regular file that is not hidden
    };

    Failure(Case value, QString name = {});

    bool operator==(const Failure &other) const { return value == other.value && name == other.name; }

    Case value;
    QString name; // for unreadable: the last path component of what failed
};

// The files of a share from the picked files and folders (local paths), in share order: files
// picked one by one in the order picked; the files below a picked folder, as "folder/below/name",
// together at the folder's place, sorted as the file manager sorts names. Symbolic links are
// never followed and never shared; hidden items (a leading ".") are left out, except a picked
// folder itself; anything that is not a regular file or folder is skipped.
//
// Reads the file system: run it in the pool, never on the main thread. Throws Failure, or
// std::system_error for a picked item that cannot be looked at.
QList<ShareItem> collect(const QStringList &picked);

// "Shared files" for none, the one name, or "<first name> and <n - 1> more".
QString title(const QStringList &picked);

} // namespace DriveCore::ShareFiles
