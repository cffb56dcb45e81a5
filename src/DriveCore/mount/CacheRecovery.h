#pragma once

#include "DriveCore/support/Cancellation.h"
#include "DriveCore/support/Clock.h"

#include <QCoroTask>
#include <QString>
#include <QStringList>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// Rescues files that were written but never uploaded from cache folders the running engine no
// longer uses. The engine names its cache folder after its remote; when that name changes,
// the old folder stays on disk with whatever it still held. The same happens to a whole
// device's cache when the drive is set up again under a new device id. Pending files are copied
// into the mounted drive, where the engine takes them as new writes, and a folder is deleted
// once nothing in it is left to rescue. Logs under "cache-recovery".
namespace DriveCore::CacheRecovery {

struct Outcome {
    // Paths inside the drive ("/"-separated) where rescued files now lie, in rescue order; a
    // file that had to take another name is listed under that name.
    std::vector<std::string> recovered;
    std::vector<std::string> removed; // cache folder names deleted
    std::vector<std::string> kept; // left because something in them can't be rescued or deleted
    bool stopped = false; // told to stop, or the drive went away

    bool operator==(const Outcome &) const = default;
};

// Copies a file to a path where nothing is yet; throws when it can't. The target path leads
// through a folder of the drive that the rescue holds open (/proc/self/fd/<n>/<name>), so the
// copy lands in the drive even if the drive's own path changes meanwhile.
using Copier = std::function<void(const std::filesystem::path &source, const std::filesystem::path &target)>;
// Whether the drive is mounted at the path. May block; called off the main thread.
using IsMounted = std::function<bool(const QString &mount)>;
// The running engine's cache folder, or none when it can't tell.
using ActiveName = std::function<QCoro::Task<std::optional<std::string>>(CancelToken)>;
// Pauses; throws when the token is cancelled.

// The drive whose files a device's cache holds: the storage's endpoint and bucket. A cache
// of another drive is never copied into this one.
struct DriveIdentity {
    QString endpoint;
    QString bucket;

    bool operator==(const DriveIdentity &) const = default;
};

// The file in a device's cache folder that names its drive ({"endpoint": …, "bucket": …}).
inline constexpr const char *driveFileName = "drive.json";

// Names `drive` in `cacheDir` (made when missing) unless it names it already. Blocks; false
// when the file can't be written.
bool markDrive(const QString &cacheDir, const DriveIdentity &drive);
// The drive that `cacheDir` names; none when its file is missing or doesn't decode. Blocks.
std::optional<DriveIdentity> markedDrive(const QString &cacheDir);
// The cache folders beside `cacheDir`, named by other device ids, that name `drive`, sorted:
// what an earlier setup of the same drive on this computer left. Blocks.
QStringList earlierDeviceCaches(const QString &cacheDir, const DriveIdentity &drive);

// A rescue copy is written under this prefix and a random UUID, then renamed; watchers and
// refreshers of the drive skip such names.
inline constexpr const char *temporaryPrefix = ".corvane-recovering-";

// "drivecrypt", or "drivecrypt{...}": nothing else in the cache is ours to read or remove.
bool isCacheFolderName(std::string_view name);

// The cache folder names below cacheDir/vfs and cacheDir/vfsMeta; an unreadable listing gives
// none. Blocks while it lists.
std::set<std::string> folders(const QString &cacheDir);

// The running drive's cache folder, from the engine's list of running caches ("vfs/list":
// "<remote>:<root>"): the one cache folder name seen, and seen with the root "Drive". Any
// other mix gives none.
std::optional<std::string> activeFolder(const QStringList &vfsNames);

// Whether the drive is mounted at `mount` for the rescue to write into: something is mounted
// there, and the file system the folder lies on is the engine's own mount or the file-system
// layer over it. Reads the mount table and stats the folder, which can block on a stuck mount.
bool isDriveMounted(const QString &mount);

// Waits for the drive and rescues what the old folders hold. Up to `attempts` times, 2 s
// apart (through `sleep`), asks for the active folder and whether the drive is mounted; once
// both hold it runs recover() and then recoverEarlierDevices() for `earlierCaches` on the
// thread pool and gives their joint outcome. None when there is nothing old, the drive did not
// come up, or the token was cancelled before a pass began.
// Cancelling during a pass stops it at its next check (a file copy in progress finishes) and
// still gives its outcome. A negative `attempts` throws std::invalid_argument.
QCoro::Task<std::optional<Outcome>> recoverWhenMounted(QString cacheDir, std::set<std::string> folders,
                                                       QStringList earlierCaches, QString mount, int attempts,
                                                       ActiveName activeName, IsMounted isMounted, Copier copier,
                                                       Sleep sleep, CancelToken token = {});

// One blocking pass over the old cache folders (every cache folder name in `folders` other
// than `active`), in ascending name order. For each: copies every pending, fully cached file
// of the drive into `mount`, deletes the entries of what it rescued, and deletes the folder
// when nothing is left that can't be rescued. Checks shouldContinue() and isMounted(mount)
// before each folder, before each file and before deleting a folder; a folder it stops in is
// neither removed nor kept.
Outcome recover(const QString &cacheDir, const std::set<std::string> &folders, const std::string &active,
                const QString &mount, const IsMounted &isMounted, const std::function<bool()> &shouldContinue,
                const Copier &copier);

// One blocking pass over the caches of earlier device ids (see earlierDeviceCaches), in the
// order given: recover() over each one's cache folders, none of them active. Removed and kept
// folders are named "<device id>/<cache folder>". A device's cache that then holds nothing but
// empty folders and its drive file is deleted.
Outcome recoverEarlierDevices(const QStringList &caches, const QString &mount, const IsMounted &isMounted,
                              const std::function<bool()> &shouldContinue, const Copier &copier);

// The n-th other name (n >= 1) for a file whose name is taken: "q3.pdf" gives "q3 (recovered).pdf",
// then "q3 (recovered 2).pdf"; "Makefile" and ".profile" give "Makefile (recovered)" and
// ".profile (recovered)".
std::string recoveredName(std::string_view name, int n);

// The production copier: a plain copy with the source's permissions and times, into a target
// that must not exist yet. A copy that fails removes what it wrote.
void fileCopier(const std::filesystem::path &source, const std::filesystem::path &target);

} // namespace DriveCore::CacheRecovery
