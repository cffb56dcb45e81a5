// The engine's cache on disk as the cache scan and the rescue of old cache folders read it.
// Field 0 "meta": field 1 is the cached bytes of an item, field 2 its metadata file. The scan's
// quick reader answers for "Dirty" as a full JSON parser does; an item the rescue decodes has
// the Dirty the scan reads, and its ranges cover it whatever their order; text after the object
// makes it unreadable. On disk, the scan counts the item as waiting for upload unless it says
// "Dirty": false, and a rescue pass copies it into the drive exactly when it is dirty, fully
// cached and as long as the cached file, keeps its folder when it can't be decoded or rescued,
// and removes the folder otherwise. Field 0 "journal": field 1 is a trash journal; whether it
// leaves a move unfinished does not depend on the order of its lines, nor changes when it is
// written twice, and a line that is not JSON makes it count as unfinished.
#include "Fuzz.h"

#include "DriveCore/mount/CacheRecovery.h"
#include "DriveCore/mount/VFSCacheScan.h"

#include <QTemporaryDir>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

using namespace DriveCore;
namespace fs = std::filesystem;

namespace {

const char *const oldFolder = "drivecrypt{0a1b}";

const QTemporaryDir &scratch()
{
    static const QTemporaryDir folder;
    return folder;
}

// A cache folder and a drive folder, empty for every input.
struct Places {
    fs::path cache;
    fs::path drive;
};

Places emptyPlaces()
{
    const fs::path root = scratch().path().toStdString();
    const Places places{root / "cache", root / "drive"};
    fs::remove_all(places.cache);
    fs::remove_all(places.drive);
    fs::create_directories(places.cache);
    fs::create_directories(places.drive);
    return places;
}

void write(const fs::path &path, std::string_view bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), std::streamsize(bytes.size()));
    file.close();
    FUZZ_CHECK(file.good());
}

std::string read(const fs::path &path)
{
    const std::optional<std::string> bytes = VFSCacheScan::readFile(path);
    FUZZ_CHECK(bytes.has_value());
    return *bytes;
}

// The top level's "Dirty" as the full parser reads the text; missing and null are the same.
// The parser would stop at a NUL byte, which no JSON text holds.
std::optional<bool> parsedDirty(std::string_view text)
{
    if (text.find('\0') != std::string_view::npos)
        return std::nullopt;
    const nlohmann::json json = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (!json.is_object() || !json.contains("Dirty") || !json["Dirty"].is_boolean())
        return std::nullopt;
    return json["Dirty"].get<bool>();
}

void meta(const std::string &text, const std::string &cached)
{
    const std::optional<bool> dirty = VFSCacheScan::decodeDirty(text);
    FUZZ_CHECK(dirty == parsedDirty(text));
    const std::optional<VFSCacheScan::Item> item = VFSCacheScan::Item::decode(text);
    // Nothing that follows a whole object is taken for more of it.
    FUZZ_CHECK(!VFSCacheScan::decodeDirty(text + "x") && !VFSCacheScan::Item::decode(text + "x"));
    if (item) {
        FUZZ_CHECK(dirty == item->Dirty);
        if (item->Rs) {
            VFSCacheScan::Item reversed = *item;
            std::reverse(reversed.Rs->begin(), reversed.Rs->end());
            FUZZ_CHECK(reversed.isFullyCached() == item->isFullyCached());
        }
    }

    const Places places = emptyPlaces();
    const QString cacheDir = QString::fromStdString(places.cache.native());
    const QString mount = QString::fromStdString(places.drive.native());
    const fs::path inDrive = fs::path("Drive") / "Docs" / "a.txt";
    write(places.cache / VFSCacheScan::metaFolder / oldFolder / inDrive, text);
    write(places.cache / VFSCacheScan::dataFolder / oldFolder / inDrive, cached);
    FUZZ_CHECK(VFSCacheScan::hasUnuploadedFiles(cacheDir) == (dirty != false));

    const CacheRecovery::Outcome outcome = CacheRecovery::recover(
        cacheDir, CacheRecovery::folders(cacheDir), "drivecrypt", mount, [](const QString &) { return true; },
        [] { return true; }, CacheRecovery::fileCopier);
    FUZZ_CHECK(!outcome.stopped);
    const std::vector<std::string> folder{oldFolder};
    const bool rescuable = item && item->Dirty && item->isFullyCached() && item->Size == qint64(cached.size());
    if (rescuable) {
        FUZZ_CHECK(outcome.recovered == std::vector<std::string>{"Docs/a.txt"} && outcome.removed == folder);
        FUZZ_CHECK(read(places.drive / "Docs" / "a.txt") == cached);
    } else {
        FUZZ_CHECK(outcome.recovered.empty());
        FUZZ_CHECK((item && !item->Dirty ? outcome.removed : outcome.kept) == folder);
    }
    FUZZ_CHECK(VFSCacheScan::hasUnuploadedFiles(cacheDir) == (outcome.kept == folder && dirty != false));
}

bool pendingMoves(const std::string &journal)
{
    const Places places = emptyPlaces();
    write(places.cache / VFSCacheScan::trashFolder / "0.jsonl", journal);
    return VFSCacheScan::hasPendingTrashMoves(QString::fromStdString(places.cache.native()));
}

void journal(const std::string &text)
{
    const bool pending = pendingMoves(text);
    std::vector<std::string_view> lines;
    for (std::string_view rest = text;;) {
        const std::size_t end = rest.find('\n');
        lines.push_back(rest.substr(0, end));
        if (end == std::string_view::npos)
            break;
        rest.remove_prefix(end + 1);
    }
    std::string reversed;
    for (auto line = lines.rbegin(); line != lines.rend(); ++line)
        reversed.append(*line).append("\n");
    FUZZ_CHECK(pendingMoves(reversed) == pending);
    FUZZ_CHECK(pendingMoves(text + "\n" + text) == pending);
    FUZZ_CHECK(pendingMoves(text + "x"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> input = Fuzz::fields(data, size, 3);
    if (input[0] == "meta")
        meta(input[2].toStdString(), input[1].toStdString());
    else if (input[0] == "journal")
        journal(input[1].toStdString());
    return 0;
}
