#pragma once

#include <QString>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The engine's file cache on disk, as this drive reads it. The formats are the engine's; we
// write none of them, and every field not named here is ignored.
//
// Below the cache folder C:
//   C/vfs/<cache folder>/<path>      cached contents, possibly only some byte ranges
//   C/vfsMeta/<cache folder>/<path>  one JSON metadata file per cached item, same path
//   C/vfsTrash/*.jsonl               the journal of moves into Recently Deleted
// The drive's own files lie under the first path component "Drive".
namespace DriveCore::VFSCacheScan {

inline constexpr const char *dataFolder = "vfs";
inline constexpr const char *metaFolder = "vfsMeta";
inline constexpr const char *trashFolder = "vfsTrash";

// The path as the file system takes it (the file name encoding's bytes).
std::filesystem::path localPath(const QString &path);

// A byte range of a file that the data file holds.
struct Range {
    qint64 Pos = 0;
    qint64 Size = 0;

    bool operator==(const Range &) const = default;
};

// One metadata file: {"Size": whole file's bytes, "Rs": [{"Pos", "Size"}...] or absent/null,
// "Dirty": whether it holds changes not uploaded yet}.
struct Item {
    qint64 Size = 0;
    std::optional<std::vector<Range>> Rs;
    bool Dirty = false;

    // Whether the ranges cover the whole file from byte 0 without a gap (overlaps and ranges
    // past the end are fine). A range whose end does not fit 64 bits counts as not covering.
    bool isFullyCached() const;

    // None when the text is not such an object ("Size" and "Dirty" required, integers must be
    // whole and fit 64 bits).
    static std::optional<Item> decode(std::string_view json);
};

// Only the "Dirty" of a metadata file; none when it isn't JSON or "Dirty" isn't a Boolean.
std::optional<bool> decodeDirty(std::string_view json);

// A regular file met by walkFiles; valid during the visit only.
struct WalkedFile {
    int folder; // an open descriptor of the folder it lies in
    const char *name;
    const std::filesystem::path &folderPath;

    std::filesystem::path path() const;
};

// Visits every regular file below `root` (hidden ones too; links are not followed and folders
// not entered through them) until `visit` returns false. A folder that can't be listed,
// `root` included, is passed over and the walk goes on; the result says whether that happened.
bool walkFiles(const std::filesystem::path &root, const std::function<bool(const WalkedFile &)> &visit);

// The whole file, or none when it can't be read.
std::optional<std::string> readFile(const std::filesystem::path &path);
// The same for the file `name` in the open folder `folder`.
std::optional<std::string> readFile(int folder, const char *name);

// Both scans block while they read, answer true whenever they can't tell, and never fail.

// Whether some cached item still waits for upload: any metadata file below C/vfsMeta, in any
// cache folder, that says "Dirty": true or can't be read and decoded.
bool hasUnuploadedFiles(const QString &cacheDir);

// Whether a journal file holds a move that was started ({"add": {"id": n}}) without its finish
// ({"done": n}) in the same file.
bool hasPendingTrashMoves(const QString &cacheDir);

} // namespace DriveCore::VFSCacheScan
