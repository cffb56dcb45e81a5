#include "DriveCore/mount/VFSCacheScan.h"

#include "CacheFixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace DriveCore;
using CacheFixture::metaJson;
namespace fs = std::filesystem;

namespace {

struct Layout {
    const char *name;
    std::function<void(const CacheFixture::Cache &)> make;
    bool unuploaded;
    bool pendingTrash;
};

const std::string clean = metaJson(5, {{0, 5}}, false);
const std::string dirty = metaJson(5, {{0, 5}}, true);

void unreadable(const CacheFixture::Cache &cache, const fs::path &relative)
{
    fs::permissions(cache.root() / relative, fs::perms::none);
}

} // namespace

TEST(VFSCacheScan, AnswersForEachCacheLayout)
{
    const std::vector<Layout> layouts = {
        {"empty cache folder", [](auto &) {}, false, false},
        {"empty metadata and trash folders",
         [](auto &cache) {
             fs::create_directories(cache.root() / "vfsMeta");
             fs::create_directories(cache.root() / "vfsTrash");
         },
         false, false},
        {"clean files in several folders",
         [](auto &cache) {
             cache.item("drivecrypt", "a.txt", clean, "hello");
             cache.item("drivecrypt{old}", "Sub/b.txt", clean, "hello");
         },
         false, false},
        {"clean but only partly cached",
         [](auto &cache) { cache.item("drivecrypt", "a.txt", metaJson(100, {{0, 40}}, false)); }, false, false},
        {"dirty in the active folder", [](auto &cache) { cache.item("drivecrypt", "Deep/er/a.txt", dirty); }, true,
         false},
        {"dirty in an old folder",
         [](auto &cache) {
             cache.item("drivecrypt", "a.txt", clean);
             cache.item("drivecrypt{b}", "a.txt", dirty);
         },
         true, false},
        {"dirty in a folder of another name", [](auto &cache) { cache.write("vfsMeta/other/x", dirty); }, true, false},
        {"dirty and hidden", [](auto &cache) { cache.item("drivecrypt", ".hidden", dirty); }, true, false},
        {"metadata of the wrong size: still only Dirty counts",
         [](auto &cache) { cache.item("drivecrypt", "a.txt", metaJson(100, {{0, 100}}, false), "short"); }, false,
         false},
        {"metadata without Dirty", [](auto &cache) { cache.item("drivecrypt", "a.txt", "{}"); }, true, false},
        {"metadata that is not JSON", [](auto &cache) { cache.item("drivecrypt", "a.txt", "Dirty: false"); }, true,
         false},
        {"metadata that goes on after a NUL",
         [](auto &cache) { cache.item("drivecrypt", "a.txt", clean + std::string(1, '\0') + "x"); }, true, false},
        {"Dirty as a string", [](auto &cache) { cache.item("drivecrypt", "a.txt", R"({"Dirty":"true"})"); }, true,
         false},
        {"Dirty null", [](auto &cache) { cache.item("drivecrypt", "a.txt", R"({"Dirty":null})"); }, true, false},
        {"unreadable metadata file",
         [](auto &cache) {
             cache.item("drivecrypt", "a.txt", clean);
             unreadable(cache, "vfsMeta/drivecrypt/Drive/a.txt");
         },
         true, false},
        {"unreadable metadata folder",
         [](auto &cache) {
             cache.item("drivecrypt", "a.txt", clean);
             cache.item("drivecrypt{b}", "a.txt", clean);
             unreadable(cache, "vfsMeta/drivecrypt{b}");
         },
         true, false},
        {"links are not followed",
         [](auto &cache) {
             cache.write("elsewhere/dirty", dirty);
             fs::create_directories(cache.root() / "vfsMeta/drivecrypt");
             fs::create_symlink(cache.root() / "elsewhere/dirty", cache.root() / "vfsMeta/drivecrypt/link");
             fs::create_directory_symlink(cache.root() / "elsewhere", cache.root() / "vfsMeta/drivecrypt/dir");
         },
         false, false},
        {"plain files where the folders belong",
         [](auto &cache) {
             cache.write("vfsMeta", "");
             cache.write("vfsTrash", "");
         },
         true, true},
        {"moves all finished",
         [](auto &cache) {
             cache.write("vfsTrash/a.jsonl",
                         "{\"add\":{\"id\":1}}\n{\"add\":{\"id\":2,\"path\":\"x\"}}\n{\"done\":1}\n{\"done\":2}\n");
         },
         false, false},
        {"a move not finished",
         [](auto &cache) {
             cache.write("vfsTrash/a.jsonl", "{\"add\":{\"id\":1}}\n{\"add\":{\"id\":2}}\n{\"done\":1}");
         },
         false, true},
        {"a line that finishes its own move",
         [](auto &cache) { cache.write("vfsTrash/a.jsonl", "{\"add\":{\"id\":7},\"done\":7}\n"); }, false, false},
        {"ids count within one journal only",
         [](auto &cache) {
             cache.write("vfsTrash/a.jsonl", "{\"add\":{\"id\":5}}\n");
             cache.write("vfsTrash/b.jsonl", "{\"done\":5}\n");
         },
         false, true},
        {"ids use all 64 bits",
         [](auto &cache) {
             cache.write("vfsTrash/a.jsonl",
                         "{\"add\":{\"id\":18446744073709551615}}\n{\"done\":18446744073709551614}\n");
         },
         false, true},
        {"empty and blank journals, other names",
         [](auto &cache) {
             cache.write("vfsTrash/empty.jsonl", "");
             cache.write("vfsTrash/blank.jsonl", "\n\n\n");
             cache.write("vfsTrash/plain.json", "{\"add\":{\"id\":1}}\n");
             cache.write("vfsTrash/caps.JSONL", "{\"add\":{\"id\":1}}\n");
             cache.write("vfsTrash/nested/deep.jsonl", "{\"add\":{\"id\":1}}\n");
         },
         false, false},
        {"a line with neither key",
         [](auto &cache) { cache.write("vfsTrash/a.jsonl", "{\"other\":true}\n{\"add\":null}\n"); }, false, false},
        {"a negative id", [](auto &cache) { cache.write("vfsTrash/a.jsonl", "{\"done\":-1}\n"); }, false, true},
        {"a fractional id",
         [](auto &cache) { cache.write("vfsTrash/a.jsonl", "{\"add\":{\"id\":1.5}}\n{\"done\":1.5}\n"); }, false, true},
        {"an add without its id", [](auto &cache) { cache.write("vfsTrash/a.jsonl", "{\"add\":{}}\n"); }, false, true},
        {"a line that goes on after a NUL",
         [](auto &cache) {
             cache.write("vfsTrash/a.jsonl", "{\"add\":{\"id\":1}}\n{\"done\":1}" + std::string(1, '\0') + "x\n");
         },
         false, true},
        {"a line that is not JSON", [](auto &cache) { cache.write("vfsTrash/a.jsonl", "{\"done\":1}\nnot json\n"); },
         false, true},
        {"an unreadable journal",
         [](auto &cache) {
             cache.write("vfsTrash/a.jsonl", "{\"done\":1}\n");
             unreadable(cache, "vfsTrash/a.jsonl");
         },
         false, true},
        {"a folder named like a journal",
         [](auto &cache) { fs::create_directories(cache.root() / "vfsTrash/x.jsonl"); }, false, true},
        {"an unlistable trash folder",
         [](auto &cache) {
             cache.write("vfsTrash/a.jsonl", "");
             unreadable(cache, "vfsTrash");
         },
         false, true},
    };
    for (const Layout &layout : layouts) {
        SCOPED_TRACE(layout.name);
        const CacheFixture::Cache cache;
        layout.make(cache);
        CacheFixture::unprivileged([&] {
            EXPECT_EQ(VFSCacheScan::hasUnuploadedFiles(cache.dir()), layout.unuploaded);
            EXPECT_EQ(VFSCacheScan::hasPendingTrashMoves(cache.dir()), layout.pendingTrash);
        });
    }
}

TEST(VFSCacheScan, AMissingCacheFolderHoldsNothing)
{
    const CacheFixture::Cache cache;
    EXPECT_FALSE(VFSCacheScan::hasUnuploadedFiles(cache.dir() + "/gone"));
    EXPECT_FALSE(VFSCacheScan::hasPendingTrashMoves(cache.dir() + "/gone"));
}

TEST(VFSCacheScan, FullyCachedMeansNoGapBeforeTheEnd)
{
    struct Case {
        long long size;
        std::vector<std::pair<long long, long long>> ranges;
        bool full;
    };
    const std::vector<Case> cases = {
        {0, {}, true},
        {10, {}, false},
        {100, {{0, 100}}, true},
        {100, {{10, 90}}, false},
        {100, {{50, 50}, {0, 60}}, true},
        {100, {{0, 40}, {50, 50}}, false},
        {100, {{0, 60}, {0, 10}, {60, 60}}, true},
        {100, {{0, 99}}, false},
        {1, {{0, 9223372036854775807LL}}, true},
        {100, {{0, 10}, {10, 9223372036854775807LL}}, false},
    };
    for (const Case &c : cases) {
        const std::string json = metaJson(c.size, c.ranges, true);
        SCOPED_TRACE(json);
        const auto item = VFSCacheScan::Item::decode(json);
        ASSERT_TRUE(item);
        EXPECT_EQ(item->isFullyCached(), c.full);
    }
}

TEST(VFSCacheScan, ItemsDecodeStrictly)
{
    const auto item = VFSCacheScan::Item::decode(R"({"Size":3,"Rs":null,"Dirty":true})");
    ASSERT_TRUE(item);
    EXPECT_EQ(item->Size, 3);
    EXPECT_FALSE(item->Rs);
    EXPECT_TRUE(item->Dirty);
    EXPECT_TRUE(VFSCacheScan::Item::decode(R"({"Size":3,"Dirty":false})"));

    for (const char *json : {R"({"Dirty":true})", R"({"Size":3})", R"({"Size":"3","Dirty":true})",
                             R"({"Size":3.5,"Dirty":true})", R"({"Size":9223372036854775808,"Dirty":true})",
                             R"({"Size":3,"Rs":[{"Pos":0}],"Dirty":true})", R"({"Size":3,"Rs":{},"Dirty":true})",
                             R"([{"Size":3,"Dirty":true}])", R"({"Size":3,"Dirty":true} trailing)"}) {
        EXPECT_FALSE(VFSCacheScan::Item::decode(json)) << json;
    }
    EXPECT_FALSE(VFSCacheScan::Item::decode(std::string(R"({"Size":3,"Dirty":true})") + '\0'));
}

// The scan reads the engine's plain metadata on a quick path of its own; whatever it makes of a
// text must be what a full JSON parser makes of it. Compared on many near misses of real files.
TEST(VFSCacheScan, DirtyReadsAsAFullParserReadsIt)
{
    const auto reference = [](const std::string &text) -> std::optional<bool> {
        const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
        if (!json.is_object() || !json.contains("Dirty") || !json["Dirty"].is_boolean())
            return std::nullopt;
        return json["Dirty"].get<bool>();
    };
    const std::vector<std::string> seeds = {
        metaJson(12345, {{0, 100}, {200, 12145}}, true),
        metaJson(0, {}, false),
        R"( {"Dirty" : false, "Size": -0, "Rs": null, "x": [[], {}, [1, "a b", true]], "Dirty": true} )",
        R"({"a":{"Dirty":true},"Dirty":false,"b":[{"Dirty":null}],"n":123456789012345678})",
        "{\"Dirty\":false,\"Name\":\"caf\xc3\xa9\",\"Esc\":\"\\u0041\\n\"}",
        R"({"Dirt\u0079":true})",
    };
    // Bytes that make or break JSON.
    const std::string alphabet = "{}[]:,\" \t\n-+.eE019aflnrstu\\\x01\xc3\xa9\xff";
    std::mt19937 random(20240301);
    const auto below = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    for (const std::string &seed : seeds) {
        for (int round = 0; round < 3000; ++round) {
            std::string text = seed;
            for (std::size_t edits = 1 + below(3); edits > 0 && !text.empty(); --edits) {
                const std::size_t at = below(text.size());
                switch (below(3)) {
                case 0:
                    text.erase(at, 1);
                    break;
                case 1:
                    text.insert(at, 1, alphabet[below(alphabet.size())]);
                    break;
                default:
                    text[at] = alphabet[below(alphabet.size())];
                    break;
                }
            }
            if (round == 0)
                text = seed;
            ASSERT_EQ(VFSCacheScan::decodeDirty(text), reference(text)) << text;
        }
    }
}
