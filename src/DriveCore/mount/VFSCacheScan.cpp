#include "DriveCore/mount/VFSCacheScan.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <fcntl.h>
#include <limits>
#include <set>
#include <unistd.h>

namespace DriveCore {

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

std::optional<Json> parseObject(std::string_view text)
{
    Json json = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (!json.is_object())
        return std::nullopt;
    return json;
}

// A whole number in [low, high] written as an integer or as a float without a fraction, the
// way the engine's own decoder would take it.
template<typename Int>
std::optional<Int> wholeNumber(const Json &value)
{
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > std::uint64_t(std::numeric_limits<Int>::max()))
            return std::nullopt;
        return Int(number);
    }
    if (value.is_number_integer()) {
        const auto number = value.get<std::int64_t>();
        if (number < 0 && std::is_unsigned_v<Int>)
            return std::nullopt;
        return Int(number);
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        // The bounds are powers of two, so exact as doubles.
        const double low = std::is_unsigned_v<Int> ? 0.0 : -std::ldexp(1.0, 63);
        const double end = std::ldexp(1.0, std::is_unsigned_v<Int> ? 64 : 63);
        if (std::trunc(number) != number || number < low || number >= end)
            return std::nullopt;
        return Int(number);
    }
    return std::nullopt;
}

// Missing and null are the same to the engine's decoder.
const Json *present(const Json &object, const char *key)
{
    const auto found = object.find(key);
    return found == object.end() || found->is_null() ? nullptr : &*found;
}

struct JournalLine {
    std::optional<std::uint64_t> add;
    std::optional<std::uint64_t> done;
};

std::optional<JournalLine> decodeJournalLine(std::string_view text)
{
    const std::optional<Json> line = parseObject(text);
    if (!line)
        return std::nullopt;
    JournalLine decoded;
    if (const Json *add = present(*line, "add")) {
        if (!add->is_object())
            return std::nullopt;
        const Json *id = present(*add, "id");
        if (!id || !(decoded.add = wholeNumber<std::uint64_t>(*id)))
            return std::nullopt;
    }
    if (const Json *done = present(*line, "done")) {
        if (!(decoded.done = wholeNumber<std::uint64_t>(*done)))
            return std::nullopt;
    }
    return decoded;
}

// Whether one journal file leaves a started move unfinished; none when it can't be read.
std::optional<bool> journalHasPendingMove(const fs::path &file)
{
    const std::optional<std::string> bytes = VFSCacheScan::readFile(file);
    if (!bytes)
        return std::nullopt;
    std::set<std::uint64_t> started;
    std::set<std::uint64_t> finished;
    std::string_view rest = *bytes;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        const std::string_view text = rest.substr(0, end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (text.empty())
            continue;
        const std::optional<JournalLine> line = decodeJournalLine(text);
        if (!line)
            return std::nullopt;
        if (line->add)
            started.insert(*line->add);
        if (line->done)
            finished.insert(*line->done);
    }
    return !std::includes(finished.begin(), finished.end(), started.begin(), started.end());
}

} // namespace

bool VFSCacheScan::Item::isFullyCached() const
{
    if (!Rs || Rs->empty())
        return Size <= 0;
    std::vector<Range> ranges = *Rs;
    // The order among ranges of equal start changes nothing below.
    std::sort(ranges.begin(), ranges.end(), [](const Range &a, const Range &b) { return a.Pos < b.Pos; });
    qint64 covered = 0;
    for (const Range &range : ranges) {
        if (range.Pos > covered)
            break;
        qint64 end = 0;
        if (__builtin_add_overflow(range.Pos, range.Size, &end))
            return false;
        covered = std::max(covered, end);
    }
    return covered >= Size;
}

std::optional<VFSCacheScan::Item> VFSCacheScan::Item::decode(std::string_view json)
{
    const std::optional<Json> object = parseObject(json);
    if (!object)
        return std::nullopt;
    const Json *size = present(*object, "Size");
    const Json *dirty = present(*object, "Dirty");
    if (!size || !dirty || !dirty->is_boolean())
        return std::nullopt;
    Item item;
    const std::optional<qint64> wholeSize = wholeNumber<qint64>(*size);
    if (!wholeSize)
        return std::nullopt;
    item.Size = *wholeSize;
    item.Dirty = dirty->get<bool>();
    if (const Json *ranges = present(*object, "Rs")) {
        if (!ranges->is_array())
            return std::nullopt;
        item.Rs.emplace();
        item.Rs->reserve(ranges->size());
        for (const Json &range : *ranges) {
            if (!range.is_object())
                return std::nullopt;
            const Json *pos = present(range, "Pos");
            const Json *length = present(range, "Size");
            if (!pos || !length)
                return std::nullopt;
            const std::optional<qint64> start = wholeNumber<qint64>(*pos);
            const std::optional<qint64> bytes = wholeNumber<qint64>(*length);
            if (!start || !bytes)
                return std::nullopt;
            item.Rs->push_back({*start, *bytes});
        }
    }
    return item;
}

std::optional<bool> VFSCacheScan::decodeDirty(std::string_view json)
{
    const std::optional<Json> object = parseObject(json);
    if (!object)
        return std::nullopt;
    const Json *dirty = present(*object, "Dirty");
    if (!dirty || !dirty->is_boolean())
        return std::nullopt;
    return dirty->get<bool>();
}

bool VFSCacheScan::walkFiles(const fs::path &root, const std::function<bool(const fs::path &)> &visit)
{
    // A folder that can't be listed must not end the walk: everything else still counts.
    bool passedOver = false;
    std::vector<fs::path> folders{root};
    while (!folders.empty()) {
        const fs::path folder = std::move(folders.back());
        folders.pop_back();
        std::error_code error;
        for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
            std::error_code typeError;
            const fs::file_type type = entry->symlink_status(typeError).type();
            if (typeError) {
                passedOver = true;
            } else if (type == fs::file_type::directory) {
                folders.push_back(entry->path());
            } else if (type == fs::file_type::regular) {
                if (!visit(entry->path()))
                    return passedOver;
            }
        }
        if (error)
            passedOver = true;
    }
    return passedOver;
}

std::optional<std::string> VFSCacheScan::readFile(const fs::path &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    // Metadata files are small: one read usually takes all, the next sees the end.
    std::string bytes(4096, '\0');
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size())
            bytes.resize(bytes.size() * 2);
        const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0)
            break;
        filled += std::size_t(got);
    }
    ::close(fd);
    bytes.resize(filled);
    return bytes;
}

bool VFSCacheScan::hasUnuploadedFiles(const fs::path &cacheDir)
{
    const fs::path meta = cacheDir / metaFolder;
    std::error_code error;
    const fs::file_status status = fs::status(meta, error);
    if (status.type() == fs::file_type::not_found)
        return false;
    if (error || status.type() != fs::file_type::directory)
        return true;
    bool pending = false;
    const bool passedOver = walkFiles(meta, [&](const fs::path &file) {
        const std::optional<std::string> bytes = readFile(file);
        const std::optional<bool> dirty = bytes ? decodeDirty(*bytes) : std::nullopt;
        pending = !dirty || *dirty;
        return !pending;
    });
    return pending || passedOver;
}

bool VFSCacheScan::hasPendingTrashMoves(const fs::path &cacheDir)
{
    const fs::path trash = cacheDir / trashFolder;
    std::error_code error;
    const fs::file_status status = fs::status(trash, error);
    if (status.type() == fs::file_type::not_found)
        return false;
    if (error)
        return true;
    for (fs::directory_iterator entry(trash, error), end; !error && entry != end; entry.increment(error)) {
        if (!entry->path().filename().native().ends_with(".jsonl"))
            continue;
        const std::optional<bool> pending = journalHasPendingMove(entry->path());
        if (!pending || *pending)
            return true;
    }
    return bool(error);
}

} // namespace DriveCore
