#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <sys/types.h>
#include <vector>

namespace DriveCore {

// One line of the kernel's mount table.
struct MountEntry {
    int id = 0; // unique while the mount exists
    int parentID = 0;
    dev_t device = 0; // the st_dev of files on this mount
    QString root; // the folder of the file system that is mounted here
    QString mountPoint;
    QString type; // FUSE types read without their "fuse." prefix
    QString source;

    bool operator==(const MountEntry &) const = default;
};

// The mount table of this process's mount namespace, from /proc/self/mountinfo. Every
// operation reads it afresh and is safe from any thread; none touches the mounted file
// systems themselves except where said, so a hung or dead FUSE daemon cannot stall them.
namespace MountTable {

inline constexpr const char *mountInfoPath = "/proc/self/mountinfo";

// The table in kernel order (a mount listed after another at the same place lies on top of
// it); empty when it cannot be read.
std::vector<MountEntry> read();

// Parses mountinfo text. Lines that do not have the kernel's shape are skipped.
std::vector<MountEntry> parse(const QByteArray &text);

// Undoes the kernel's octal escapes ("\040" is a space) and reads the bytes as UTF-8.
QString decodeField(const QByteArray &field);

// FUSE mounts are listed as "fuse.<subtype>"; the subtype is the file system's own name.
QString fileSystemType(const QString &listedType);

// The types mounted at exactly this path, in table order; several when mounts are stacked.
// The path is compared after removing ".", ".." and a trailing "/", as given and with links
// in its parent folders resolved (the kernel lists resolved paths); the last component is
// never resolved, so a mount whose daemon died is still found.
QStringList typesMountedAt(const QString &path);

// Whether the table lists a mount at exactly this path (compared as above).
bool isListedMountPoint(const QString &path);

// What stat(2) tells of `path`, asked of the file system itself: a FUSE mount otherwise answers
// from its cache of attributes for a while (a second by default) after its daemon died, and on
// a desktop the volume monitor and the indexer stat every new mount, which fills that cache.
struct FreshStatus {
    int error = 0; // errno, 0 when the stat succeeded
    dev_t device = 0;
};
FreshStatus statAfresh(const QString &path);

// The type of the file system that `path` lies on, found by its device number (what statfs
// tells elsewhere). Stats the path afresh: none when that fails, as it does on a FUSE mount
// whose daemon died, or when no listed mount has its device.
std::optional<QString> typeOfFileSystem(const QString &path);

} // namespace MountTable

} // namespace DriveCore
