#include "DriveCore/mount/VFSCacheScan.h"

#include <QFile>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace DriveCore {

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

std::optional<Json> parseObject(std::string_view text)
{
    // The parser takes a NUL byte for the end of the text and would read a damaged file's
    // leading object as the whole; no JSON text holds one.
    if (text.find('\0') != std::string_view::npos)
        return std::nullopt;
    Json json = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
    if (!json.is_object())
        return std::nullopt;
    return json;
}

// A whole number that fits Int, written as an integer or as a float without a fraction, the
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

// The scan reads every metadata file of the cache, and parsing each into a document took more
// time than reading it. The engine writes them as plain text (ASCII, no escapes, small whole
// numbers), which this reads quickly; it answers only for a well-formed object within that
// plain form and leaves everything else to the full parser.
class PlainObject {
public:
    // The top level's "Dirty" (none when missing or not a Boolean; the last one counts when
    // given twice), or no answer.
    static std::optional<std::optional<bool>> dirty(std::string_view text)
    {
        PlainObject reader(text);
        reader.space();
        if (!reader.object(0))
            return std::nullopt;
        reader.space();
        if (reader.m_at != reader.m_end)
            return std::nullopt;
        return reader.m_dirty;
    }

private:
    explicit PlainObject(std::string_view text) : m_at(text.data()), m_end(text.data() + text.size()) {}

    bool value(int depth)
    {
        if (m_at == m_end)
            return false;
        switch (*m_at) {
        case '{':
            return object(depth + 1);
        case '[':
            return array(depth + 1);
        case '"':
            return string(nullptr);
        case 't':
            return word("true");
        case 'f':
            return word("false");
        case 'n':
            return word("null");
        default:
            return number();
        }
    }

    bool object(int depth)
    {
        if (depth > maxDepth || !take('{'))
            return false;
        space();
        if (take('}'))
            return true;
        for (;;) {
            std::string_view key;
            space();
            if (!string(&key))
                return false;
            space();
            if (!take(':'))
                return false;
            space();
            const char *start = m_at;
            if (!value(depth))
                return false;
            if (depth == 0 && key == "Dirty") {
                const std::string_view text(start, std::size_t(m_at - start));
                m_dirty = text == "true" ? std::optional(true) : text == "false" ? std::optional(false) : std::nullopt;
            }
            space();
            if (take('}'))
                return true;
            if (!take(','))
                return false;
        }
    }

    bool array(int depth)
    {
        if (depth > maxDepth || !take('['))
            return false;
        space();
        if (take(']'))
            return true;
        for (;;) {
            space();
            if (!value(depth))
                return false;
            space();
            if (take(']'))
                return true;
            if (!take(','))
                return false;
        }
    }

    // Printable ASCII without escapes only.
    bool string(std::string_view *text)
    {
        if (!take('"'))
            return false;
        const char *start = m_at;
        for (; m_at != m_end; ++m_at) {
            const unsigned char c = static_cast<unsigned char>(*m_at);
            if (c == '"') {
                if (text)
                    *text = std::string_view(start, std::size_t(m_at - start));
                ++m_at;
                return true;
            }
            if (c < 0x20 || c >= 0x7f || c == '\\')
                return false;
        }
        return false;
    }

    // An integer of at most 18 digits, which fits 64 bits whichever way it is read.
    bool number()
    {
        take('-');
        const char *digits = m_at;
        while (m_at != m_end && *m_at >= '0' && *m_at <= '9')
            ++m_at;
        const std::ptrdiff_t count = m_at - digits;
        if (count == 0 || count > 18 || (count > 1 && *digits == '0'))
            return false;
        return m_at == m_end || (*m_at != '.' && *m_at != 'e' && *m_at != 'E');
    }

    bool word(std::string_view literal)
    {
        if (std::size_t(m_end - m_at) < literal.size() || std::string_view(m_at, literal.size()) != literal)
            return false;
        m_at += literal.size();
        return true;
    }

    bool take(char c)
    {
        if (m_at == m_end || *m_at != c)
            return false;
        ++m_at;
        return true;
    }

    void space()
    {
        while (m_at != m_end && (*m_at == ' ' || *m_at == '\t' || *m_at == '\n' || *m_at == '\r'))
            ++m_at;
    }

    static constexpr int maxDepth = 32;
    const char *m_at;
    const char *m_end;
    std::optional<bool> m_dirty;
};

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

// With `oneDocument`, a read that comes back short is taken as the end of the file, which saves
// a system call per file on a large scan. Were a read ever cut short otherwise, the text would
// not decode and the file would count as unreadable, never as a clean one. A journal, a file of
// lines, would read as fewer lines: it is always read to the end.
std::optional<std::string> readAll(int folder, const char *name, bool oneDocument)
{
    const int fd = ::openat(folder, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
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
        filled += std::size_t(got);
        if (got == 0 || (oneDocument && filled < bytes.size()))
            break;
    }
    ::close(fd);
    bytes.resize(filled);
    return bytes;
}

} // namespace

fs::path VFSCacheScan::localPath(const QString &path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

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
    if (const std::optional<std::optional<bool>> plain = PlainObject::dirty(json))
        return *plain;
    const std::optional<Json> object = parseObject(json);
    if (!object)
        return std::nullopt;
    const Json *dirty = present(*object, "Dirty");
    if (!dirty || !dirty->is_boolean())
        return std::nullopt;
    return dirty->get<bool>();
}

fs::path VFSCacheScan::WalkedFile::path() const
{
    return folderPath / name;
}

bool VFSCacheScan::walkFiles(const fs::path &root, const std::function<bool(const WalkedFile &)> &visit)
{
    // A folder that can't be listed must not end the walk: everything else still counts. The
    // kinds come from the listing itself; asking each entry separately would cost a system
    // call per file and double the time of a large scan.
    bool passedOver = false;
    std::vector<fs::path> folders{root};
    while (!folders.empty()) {
        const fs::path folder = std::move(folders.back());
        folders.pop_back();
        const std::unique_ptr<DIR, int (*)(DIR *)> listing(::opendir(folder.c_str()), &::closedir);
        if (!listing) {
            passedOver = true;
            continue;
        }
        const int descriptor = ::dirfd(listing.get());
        for (;;) {
            errno = 0;
            const dirent *entry = ::readdir(listing.get());
            if (!entry) {
                passedOver = passedOver || errno != 0;
                break;
            }
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat info{};
                // Gone since the listing, or unknowable: not a file to read.
                if (::fstatat(descriptor, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
            }
            if (type == DT_DIR)
                folders.push_back(folder / name);
            else if (type == DT_REG && !visit({descriptor, entry->d_name, folder}))
                return passedOver;
        }
    }
    return passedOver;
}

std::optional<std::string> VFSCacheScan::readFile(const fs::path &path)
{
    return readFile(AT_FDCWD, path.c_str());
}

std::optional<std::string> VFSCacheScan::readFile(int folder, const char *name)
{
    return readAll(folder, name, false);
}

bool VFSCacheScan::hasUnuploadedFiles(const QString &cacheDir)
{
    const fs::path meta = localPath(cacheDir) / metaFolder;
    std::error_code error;
    const fs::file_status status = fs::status(meta, error);
    if (status.type() == fs::file_type::not_found)
        return false;
    if (error || status.type() != fs::file_type::directory)
        return true;
    bool pending = false;
    const bool passedOver = walkFiles(meta, [&](const WalkedFile &file) {
        const std::optional<std::string> bytes = readAll(file.folder, file.name, true);
        const std::optional<bool> dirty = bytes ? decodeDirty(*bytes) : std::nullopt;
        pending = !dirty || *dirty;
        return !pending;
    });
    return pending || passedOver;
}

bool VFSCacheScan::hasPendingTrashMoves(const QString &cacheDir)
{
    const fs::path trash = localPath(cacheDir) / trashFolder;
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
