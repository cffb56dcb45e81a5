#include "DriveCore/mount/CacheRecovery.h"

#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/mount/FSKitMount.h"
#include "DriveCore/mount/MountFolder.h"
#include "DriveCore/mount/VFSCacheScan.h"
#include "DriveCore/platform/MountTable.h"
#include "DriveCore/support/JsonReader.h"
#include "DriveCore/support/Log.h"
#include "DriveCore/support/SetOnceFlag.h"
#include "DriveCore/support/Threads.h"
#include "DriveCore/support/UserError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace DriveCore {

namespace fs = std::filesystem;

namespace {

const Log log("cache-recovery");

constexpr auto attemptPause = std::chrono::seconds(2);
constexpr const char *gaveUpText = "Drive did not come up; old cache folders left for next time";

// Why a copy into the drive did not count; the text goes to the log only.
class CopyFailed : public std::runtime_error {
public:
    explicit CopyFailed(const std::string &description) : std::runtime_error(description) {}
};

using Components = std::vector<std::string>;

struct Descriptor {
    explicit Descriptor(int fd) : fd(fd) {}
    Descriptor(Descriptor &&other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() { close(); }

    int close() { return fd < 0 ? 0 : ::close(std::exchange(fd, -1)); }

    int fd;
};

std::string joined(Components::const_iterator begin, Components::const_iterator end)
{
    std::string text;
    for (auto component = begin; component != end; ++component)
        text += (text.empty() ? "" : "/") + *component;
    return text;
}

// Only a regular file has a size here: a link or a folder has none.
std::optional<qint64> fileSize(const fs::path &path)
{
    struct stat info{};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return qint64(info.st_size);
}

// The same for a name in an open folder.
std::optional<struct stat> fileInfo(int folder, const std::string &name)
{
    struct stat info{};
    if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return info;
}

std::optional<qint64> fileSize(int folder, const std::string &name)
{
    const auto info = fileInfo(folder, name);
    return info ? std::optional(qint64(info->st_size)) : std::nullopt;
}

[[noreturn]] void throwSystemError(const char *what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

// The folder `name` in the open folder `at`, made when it is missing.
Descriptor openFolder(int at, const std::string &name)
{
    if (::mkdirat(at, name.c_str(), 0777) != 0 && errno != EEXIST)
        throwSystemError("create a folder in the drive");
    Descriptor folder(::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd < 0)
        throwSystemError("open a folder in the drive");
    return folder;
}

// A path that reaches `name` through the open folder, wherever its path now leads.
fs::path throughDescriptor(const Descriptor &folder, const std::string &name)
{
    return fs::path("/proc/self/fd") / std::to_string(folder.fd) / name;
}

// Moves `from` to `to` in the open folder unless something is there; 0 or the error number.
int moveWithoutReplacing(int folder, const std::string &from, const std::string &to)
{
    if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    const int renameError = errno;
    if (renameError != EINVAL && renameError != ENOSYS && renameError != EOPNOTSUPP)
        return renameError;
    // No exclusive rename here (FUSE file systems refuse it). A hard link can't replace
    // anything either.
    if (::linkat(folder, from.c_str(), folder, to.c_str(), 0) == 0) {
        ::unlinkat(folder, from.c_str(), 0);
        return 0;
    }
    if (errno == EEXIST)
        return EEXIST;
    // Nor hard links (the engine's own mount answers EIO): test, then rename plainly. Only a
    // file made between the two can be replaced.
    struct stat info{};
    if (::fstatat(folder, to.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return ::renameat(folder, from.c_str(), folder, to.c_str()) == 0 ? 0 : errno;
}

// Copies one pending file into the drive at `path` (inside the drive, at least one component)
// and gives the path it now lies under.
//
// The drive's folders are opened once and every later step goes through them, never through
// the path: once the drive is ejected the path leads into the bare folder beneath it, and a
// copy already in the drive could no longer be removed from there (it would be uploaded).
std::string copyIn(const fs::path &source, qint64 size, const Components &path, const fs::path &mount,
                   const std::function<bool()> &stillMounted, const CacheRecovery::Copier &copier)
{
    const Descriptor root(::open(mount.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (root.fd < 0)
        throwSystemError("open the drive");
    struct stat rootInfo{};
    struct stat atPath{};
    if (::fstat(root.fd, &rootInfo) != 0)
        throwSystemError("open the drive");
    // What was opened must be the drive, not the folder it left behind.
    if (!stillMounted() || ::stat(mount.c_str(), &atPath) != 0 || atPath.st_dev != rootInfo.st_dev)
        throw CopyFailed("the drive was disconnected during the copy");
    std::vector<Descriptor> opened;
    for (auto component = path.begin(); component + 1 != path.end(); ++component)
        opened.push_back(openFolder(opened.empty() ? root.fd : opened.back().fd, *component));
    const Descriptor &folder = opened.empty() ? root : opened.back();

    // Copied under a hidden name first, so the drive never shows a half-written file under
    // the real one.
    const std::string uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    const std::string temporary = CacheRecovery::temporaryPrefix + uuid;
    copier(source, throughDescriptor(folder, temporary));
    const auto copied = fileInfo(folder.fd, temporary);
    if (!stillMounted() || !copied || copied->st_dev != rootInfo.st_dev || copied->st_size != size) {
        ::unlinkat(folder.fd, temporary.c_str(), 0);
        throw CopyFailed("copy is not on the drive or has the wrong size");
    }

    std::string name;
    for (int n = 0;; ++n) {
        name = n == 0 ? path.back() : CacheRecovery::recoveredName(path.back(), n);
        const int result = moveWithoutReplacing(folder.fd, temporary, name);
        if (result == 0)
            break;
        if (result != EEXIST) {
            ::unlinkat(folder.fd, temporary.c_str(), 0);
            throw CopyFailed("rename failed (errno " + std::to_string(result) + ")");
        }
    }
    // From here on the file stays in the drive under its new name.
    if (fileSize(folder.fd, name) != size)
        throw CopyFailed("file changed size after renaming");
    if (!stillMounted())
        throw CopyFailed("the drive was disconnected during the copy");

    Components placed(path.begin(), path.end() - 1);
    placed.push_back(name);
    return joined(placed.begin(), placed.end());
}

struct FolderResult {
    std::vector<std::string> rescued;
    qint64 failures = 0;
    bool stopped = false;
};

struct PendingItem {
    fs::path meta;
    Components path; // below the cache folder: "Drive" and the path inside the drive
    VFSCacheScan::Item info;
};

// Rescues the pending files of one old cache folder.
FolderResult rescue(const std::string &folder, const fs::path &cacheDir, const fs::path &mount,
                    const std::function<bool()> &canGoOn, const std::function<bool()> &stillMounted,
                    const CacheRecovery::Copier &copier)
{
    const fs::path meta = cacheDir / VFSCacheScan::metaFolder / folder;
    const fs::path data = cacheDir / VFSCacheScan::dataFolder / folder;
    FolderResult result;
    std::error_code statusError;
    if (fs::status(meta, statusError).type() == fs::file_type::not_found)
        return result;

    std::vector<PendingItem> pending;
    const bool passedOver = VFSCacheScan::walkFiles(meta, [&](const VFSCacheScan::WalkedFile &file) {
        const std::optional<std::string> bytes = VFSCacheScan::readFile(file.folder, file.name);
        const std::optional<VFSCacheScan::Item> info = bytes ? VFSCacheScan::Item::decode(*bytes) : std::nullopt;
        if (!info) {
            log.error("Unreadable cache metadata: %{private}s", file.path().native());
            ++result.failures;
        } else if (info->Dirty) {
            const fs::path path = file.path();
            const fs::path relative = path.lexically_relative(meta);
            pending.push_back({path, Components(relative.begin(), relative.end()), *info});
        }
        return true;
    });
    if (passedOver)
        ++result.failures;
    // Component by component, a folder's path before what lies in it; no two items share one.
    std::sort(pending.begin(), pending.end(),
              [](const PendingItem &a, const PendingItem &b) { return a.path < b.path; });

    for (const PendingItem &item : pending) {
        if (!canGoOn()) {
            result.stopped = true;
            return result;
        }
        if (item.path.size() < 2 || item.path.front() != "Drive") {
            log.error("Pending item outside the drive folder: %{private}s", joined(item.path.begin(), item.path.end()));
            ++result.failures;
            continue;
        }
        fs::path source = data;
        for (const std::string &component : item.path)
            source /= component;
        if (!item.info.isFullyCached() || fileSize(source) != item.info.Size) {
            log.error("Only part of a pending file is on this Mac: %{private}s", source.native());
            ++result.failures;
            continue;
        }
        std::string placed;
        try {
            placed = copyIn(source, item.info.Size, Components(item.path.begin() + 1, item.path.end()), mount,
                            stillMounted, copier);
        } catch (...) {
            log.error("Rescuing %{private}s failed: %{private}s", source.native(),
                      errorText(std::current_exception()).value_or(QStringLiteral("cancelled")));
            ++result.failures;
            continue;
        }
        result.rescued.push_back(placed);
        if (::unlink(item.meta.c_str()) != 0) {
            log.error("Could not remove a rescued file's cache entry: %{private}s", std::strerror(errno));
            ++result.failures;
            continue;
        }
        ::unlink(source.c_str());
    }
    return result;
}

} // namespace

bool CacheRecovery::isCacheFolderName(std::string_view name)
{
    return name == "drivecrypt" || (name.starts_with("drivecrypt{") && name.ends_with("}"));
}

std::set<std::string> CacheRecovery::folders(const QString &cacheDir)
{
    const fs::path cache = VFSCacheScan::localPath(cacheDir);
    std::set<std::string> names;
    for (const char *below : {VFSCacheScan::dataFolder, VFSCacheScan::metaFolder}) {
        std::error_code error;
        for (fs::directory_iterator entry(cache / below, error), end; !error && entry != end; entry.increment(error)) {
            const std::string name = entry->path().filename().native();
            if (isCacheFolderName(name))
                names.insert(name);
        }
    }
    return names;
}

bool CacheRecovery::markDrive(const QString &cacheDir, const DriveIdentity &drive)
{
    if (markedDrive(cacheDir) == drive)
        return true;
    if (!QDir().mkpath(cacheDir))
        return false;
    const QJsonObject object{{QStringLiteral("endpoint"), drive.endpoint}, {QStringLiteral("bucket"), drive.bucket}};
    QSaveFile file(cacheDir + u'/' + QLatin1String(driveFileName));
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(object).toJson(QJsonDocument::Compact)) > 0
        && file.commit();
}

std::optional<CacheRecovery::DriveIdentity> CacheRecovery::markedDrive(const QString &cacheDir)
{
    QFile file(cacheDir + u'/' + QLatin1String(driveFileName));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    try {
        const JsonReader reader = JsonReader::parse(file.readAll(), u"The cache's drive file");
        return DriveIdentity{reader.value<QString>(u"endpoint"), reader.value<QString>(u"bucket")};
    } catch (const JsonDecodingError &error) {
        log.error("Unreadable drive file in %{private}s: %{public}s", cacheDir, error.description);
        return std::nullopt;
    }
}

QStringList CacheRecovery::earlierDeviceCaches(const QString &cacheDir, const DriveIdentity &drive)
{
    const QFileInfo current(cacheDir);
    QStringList caches;
    const QStringList names = current.dir().entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QString &name : names) {
        // Only folders named as the drive names device caches are read: nothing else there is ours.
        if (name == current.fileName() || !DriveSettings::parseDeviceID(name))
            continue;
        const QString path = current.dir().filePath(name);
        if (markedDrive(path) == drive)
            caches.append(path);
    }
    return caches;
}

std::optional<std::string> CacheRecovery::activeFolder(const QStringList &vfsNames)
{
    QSet<QString> seen;
    QSet<QString> withDriveRoot;
    for (const QString &entry : vfsNames) {
        const qsizetype colon = entry.indexOf(u':');
        if (colon < 0)
            continue;
        const QString remote = entry.left(colon);
        if (!isCacheFolderName(remote.toStdString()))
            continue;
        seen.insert(remote);
        if (QStringView(entry).mid(colon + 1) == u"Drive")
            withDriveRoot.insert(remote);
    }
    if (seen.size() != 1 || withDriveRoot != seen)
        return std::nullopt;
    return seen.begin()->toStdString();
}

QCoro::Task<std::optional<CacheRecovery::Outcome>>
CacheRecovery::recoverWhenMounted(QString cacheDir, std::set<std::string> folders, QStringList earlierCaches,
                                  QString mount, int attempts, ActiveName activeName, IsMounted isMounted,
                                  Copier copier, Sleep sleep, CancelToken token)
{
    if (folders.empty() && earlierCaches.isEmpty())
        co_return std::nullopt;
    if (attempts < 0)
        throw std::invalid_argument("recoverWhenMounted needs a count of attempts of 0 or more");
    if (attempts == 0) {
        log.error(gaveUpText);
        co_return std::nullopt;
    }
    if (token.stop_requested())
        co_return std::nullopt;

    for (int attempt = 1;; ++attempt) {
        const std::optional<std::string> active = co_await activeName(token);
        // Asking the mount table can hang on a stuck mount: never on the calling thread.
        bool mounted = false;
        if (active)
            mounted = co_await runInPool([isMounted, mount] { return isMounted(mount); });
        if (mounted) {
            if (earlierCaches.isEmpty() && std::none_of(folders.begin(), folders.end(), [&](const std::string &name) {
                    return name != *active;
                }))
                co_return std::nullopt;
            // The pass blocks its thread and ends only by seeing the flag, which a cancel sets
            // from whichever thread cancels.
            const auto stop = std::make_shared<SetOnceFlag>();
            const std::stop_callback onCancel(token, [stop] { stop->set(); });
            co_return co_await runInPool([=] {
                const auto shouldContinue = [stop] { return !stop->isSet(); };
                Outcome outcome = recover(cacheDir, folders, *active, mount, isMounted, shouldContinue, copier);
                if (outcome.stopped || earlierCaches.isEmpty())
                    return outcome;
                const Outcome earlier = recoverEarlierDevices(earlierCaches, mount, isMounted, shouldContinue, copier);
                outcome.recovered.insert(outcome.recovered.end(), earlier.recovered.begin(), earlier.recovered.end());
                outcome.removed.insert(outcome.removed.end(), earlier.removed.begin(), earlier.removed.end());
                outcome.kept.insert(outcome.kept.end(), earlier.kept.begin(), earlier.kept.end());
                outcome.stopped = earlier.stopped;
                return outcome;
            });
        }
        if (attempt == attempts) {
            log.error(gaveUpText);
            co_return std::nullopt;
        }
        if (token.stop_requested())
            co_return std::nullopt;
        try {
            co_await sleep(attemptPause, token);
        } catch (...) {
            co_return std::nullopt;
        }
    }
}

CacheRecovery::Outcome CacheRecovery::recover(const QString &cacheDir, const std::set<std::string> &folders,
                                              const std::string &active, const QString &mount,
                                              const IsMounted &isMounted, const std::function<bool()> &shouldContinue,
                                              const Copier &copier)
{
    const fs::path cache = VFSCacheScan::localPath(cacheDir);
    const fs::path drive = VFSCacheScan::localPath(mount);
    Outcome outcome;
    const auto canGoOn = [&] { return shouldContinue() && isMounted(mount); };
    const auto stillMounted = [&] { return isMounted(mount); };
    for (const std::string &name : folders) {
        if (name == active || !isCacheFolderName(name))
            continue;
        if (!canGoOn()) {
            outcome.stopped = true;
            return outcome;
        }
        FolderResult result = rescue(name, cache, drive, canGoOn, stillMounted, copier);
        outcome.recovered.insert(outcome.recovered.end(), result.rescued.begin(), result.rescued.end());
        if (result.stopped) {
            outcome.stopped = true;
            return outcome;
        }
        if (result.failures > 0) {
            log.error("Kept old cache folder: %ld files couldn't be rescued", result.failures);
            outcome.kept.push_back(name);
            continue;
        }
        if (!canGoOn()) {
            outcome.stopped = true;
            return outcome;
        }
        bool deleted = true;
        for (const char *below : {VFSCacheScan::dataFolder, VFSCacheScan::metaFolder}) {
            const fs::path folder = cache / below / name;
            std::error_code error;
            if (fs::symlink_status(folder, error).type() == fs::file_type::not_found)
                continue;
            fs::remove_all(folder, error);
            if (error) {
                log.error("Could not remove old cache folder: %{private}s", error.message());
                outcome.kept.push_back(name);
                deleted = false;
                break;
            }
        }
        if (!deleted)
            continue;
        outcome.removed.push_back(name);
        log.info("Removed old cache folder after rescuing %ld files", result.rescued.size());
    }
    return outcome;
}

CacheRecovery::Outcome CacheRecovery::recoverEarlierDevices(const QStringList &caches, const QString &mount,
                                                            const IsMounted &isMounted,
                                                            const std::function<bool()> &shouldContinue,
                                                            const Copier &copier)
{
    Outcome outcome;
    for (const QString &cache : caches) {
        const std::string device = QFileInfo(cache).fileName().toStdString();
        // No engine runs on an earlier device's cache: every cache folder in it is old.
        Outcome one = recover(cache, folders(cache), std::string(), mount, isMounted, shouldContinue, copier);
        outcome.recovered.insert(outcome.recovered.end(), one.recovered.begin(), one.recovered.end());
        for (const std::string &name : one.removed)
            outcome.removed.push_back(device + '/' + name);
        for (const std::string &name : one.kept)
            outcome.kept.push_back(device + '/' + name);
        if (one.stopped) {
            outcome.stopped = true;
            return outcome;
        }
        if (!one.kept.empty())
            continue;
        // What the rescue does not read (a trash journal, say) keeps the device's cache.
        const fs::path root = VFSCacheScan::localPath(cache);
        for (const char *below : {VFSCacheScan::dataFolder, VFSCacheScan::metaFolder}) {
            std::error_code notEmpty; // then it stays, and so does the device's cache
            fs::remove(root / below, notEmpty);
        }
        std::error_code error;
        bool onlyTheDriveFile = true;
        for (fs::directory_iterator entry(root, error), end; !error && entry != end; entry.increment(error))
            onlyTheDriveFile = onlyTheDriveFile && entry->path().filename() == driveFileName;
        if (!error && onlyTheDriveFile) {
            fs::remove(root / driveFileName, error);
            fs::remove(root, error);
        }
        if (error)
            log.info("Left the earlier device's cache folder %{private}s: %{public}s", cache, error.message());
        else if (!onlyTheDriveFile)
            log.info("Left the earlier device's cache folder %{private}s: it holds more than cached files", cache);
    }
    return outcome;
}

bool CacheRecovery::isDriveMounted(const QString &mount)
{
    // The type of the file system the folder lies on, as a rescued file would land there.
    if (!MountFolder::isMountPoint(mount))
        return false;
    const std::optional<QString> type = MountTable::typeOfFileSystem(mount);
    return type && FSKitMount::isDriveMounted(QStringList{*type});
}

std::string CacheRecovery::recoveredName(std::string_view name, int n)
{
    const std::string tag = n == 1 ? "recovered" : "recovered " + std::to_string(n);
    // A leading "." starts a hidden name, not an extension.
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0 && dot + 1 < name.size())
        return std::string(name.substr(0, dot)) + " (" + tag + ")." + std::string(name.substr(dot + 1));
    return std::string(name) + " (" + tag + ")";
}

void CacheRecovery::fileCopier(const fs::path &source, const fs::path &target)
{
    const auto fail = [](const char *what) { throw std::system_error(errno, std::generic_category(), what); };
    const Descriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.fd < 0)
        fail("open the cached file");
    struct stat info{};
    if (::fstat(in.fd, &info) != 0)
        fail("read the cached file's attributes");
    Descriptor out(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 07777));
    if (out.fd < 0)
        fail("create the copy");
    // Whatever goes wrong from here, no partial copy is left behind.
    const auto failWritten = [&](const char *what) {
        const int error = errno;
        out.close();
        ::unlink(target.c_str());
        errno = error;
        fail(what);
    };
    std::vector<char> buffer(std::size_t(1) << 20);
    for (;;) {
        const ssize_t got = ::read(in.fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            failWritten("read the cached file");
        if (got == 0)
            break;
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = ::write(out.fd, buffer.data() + written, std::size_t(got - written));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0)
                failWritten("write the copy");
            written += put;
        }
    }
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    ::futimens(out.fd, times);
    // A network or FUSE file system may report a failed write only when the file is closed.
    if (out.close() != 0)
        failWritten("finish the copy");
}

} // namespace DriveCore
