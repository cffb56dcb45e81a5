#pragma once

// Small engine caches on disk, made by the tests that read them.

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace CacheFixture {

namespace fs = std::filesystem;

using Names = std::vector<std::string>;

inline std::string contents(const fs::path &path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Every name below `folder`, "/"-separated, sorted.
inline Names tree(const fs::path &folder)
{
    Names names;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        names.push_back(entry.path().lexically_relative(folder).generic_string());
    std::sort(names.begin(), names.end());
    return names;
}

// A metadata file as the engine writes it (with a few fields we don't read).
inline std::string metaJson(long long size, const std::vector<std::pair<long long, long long>> &ranges, bool dirty)
{
    std::string rs = "[";
    for (const auto &[pos, length] : ranges)
        rs += (rs.size() > 1 ? "," : "") + std::string("{\"Pos\":") + std::to_string(pos)
            + ",\"Size\":" + std::to_string(length) + "}";
    rs += "]";
    return "{\"ModTime\":\"2024-03-01T10:00:00Z\",\"ATime\":\"2024-03-01T10:00:00Z\",\"Size\":" + std::to_string(size)
        + ",\"Rs\":" + rs + ",\"Fingerprint\":\"\",\"Dirty\":" + (dirty ? "true" : "false") + "}";
}

// A temporary cache folder that other users can walk into, so that a test can take away a
// reader's rights to parts of it.
class Cache {
public:
    Cache()
    {
        EXPECT_TRUE(m_dir.isValid());
        m_root = m_dir.path().toStdString();
        fs::permissions(m_root, fs::perms(0755));
    }

    // Gives back what a test took away, so that the folder can be removed.
    ~Cache()
    {
        std::vector<fs::path> folders{m_root};
        while (!folders.empty()) {
            const fs::path folder = folders.back();
            folders.pop_back();
            std::error_code error;
            fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, error);
            for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
                if (entry->is_symlink(error))
                    continue;
                fs::permissions(entry->path(), fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add,
                                error);
                if (entry->is_directory(error))
                    folders.push_back(entry->path());
            }
        }
    }

    const fs::path &root() const { return m_root; }
    QString dir() const { return m_dir.path(); }

    // Writes `content` at `relative` below the cache folder, making the folders on the way.
    void write(const fs::path &relative, std::string_view content) const
    {
        const fs::path path = m_root / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    }

    // A file of the drive (a path inside the drive) cached in `folder`: its metadata and,
    // unless empty, its data.
    void item(const std::string &folder, const std::string &drivePath, const std::string &meta,
              const std::string &data = {}) const
    {
        write(fs::path("vfsMeta") / folder / "Drive" / drivePath, meta);
        if (!data.empty())
            write(fs::path("vfs") / folder / "Drive" / drivePath, data);
    }

    // A file written but not uploaded, fully cached.
    void pending(const std::string &folder, const std::string &drivePath, const std::string &data) const
    {
        item(folder, drivePath, metaJson((long long)data.size(), {{0, (long long)data.size()}}, true), data);
    }

    void clean(const std::string &folder, const std::string &drivePath, const std::string &data) const
    {
        item(folder, drivePath, metaJson((long long)data.size(), {{0, (long long)data.size()}}, false), data);
    }

private:
    QTemporaryDir m_dir;
    fs::path m_root;
};

// Runs `body` with the rights of an ordinary user, so that a file or folder of mode 0 is
// unreadable even when the tests run as root.
template<typename Body>
auto unprivileged(Body body)
{
    if (::geteuid() != 0)
        return body();
    constexpr uid_t nobody = 65534;
    EXPECT_EQ(::setegid(nobody), 0);
    EXPECT_EQ(::seteuid(nobody), 0);
    struct Restore {
        ~Restore()
        {
            EXPECT_EQ(::seteuid(0), 0);
            EXPECT_EQ(::setegid(0), 0);
        }
    } restore;
    return body();
}

} // namespace CacheFixture
