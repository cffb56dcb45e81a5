#include "KeepShared/FinderBadges.h"

#include "KeepShared/CanonicalText.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>

using namespace KeepShared;

namespace {

using Badge = std::optional<FinderBadge>;
constexpr Badge none = std::nullopt;

const std::string mount = "/Users/ann/Mounts/Drive";
const std::string precomposed = "Caf\u00e9";
const std::string decomposed = "Cafe\u0301";

struct Case {
    const char *what;
    std::vector<FinderBadgePin> pins;
    std::vector<std::string> pending;
    bool queueKnown;
    bool online;
    std::vector<std::pair<std::string, Badge>> badges; // drive-relative path, expected badge
};

void check(const Case &c)
{
    const FinderBadgeSnapshot snapshot(mount, c.pins, c.pending, c.queueKnown, c.online);
    for (const auto &[path, badge] : c.badges)
        EXPECT_EQ(snapshot.badge(path), badge) << c.what << ": " << path;
}

// The badge rule step by step, over the lists as posted: what the lookups must agree with.
Badge literalBadge(const FinderBadgeSnapshot &snapshot, const std::string &path)
{
    const std::string p = CanonicalText::composed(path);
    const auto beginsInside = [](const std::string &text, const std::string &folder) {
        return CanonicalText::composed(text).starts_with(CanonicalText::composed(folder) + "/");
    };
    for (const std::string &entry : snapshot.pending()) {
        if (CanonicalText::equal(entry, p) || beginsInside(entry, p))
            return snapshot.online() ? FinderBadge::uploading : FinderBadge::paused;
    }
    const FinderBadgePin *deepest = nullptr;
    for (const FinderBadgePin &pin : snapshot.pins()) {
        const bool matches = CanonicalText::equal(pin.path, p) || (pin.isDir && beginsInside(p, pin.path));
        if (matches
            && (!deepest || CanonicalText::composed(pin.path).size() > CanonicalText::composed(deepest->path).size()))
            deepest = &pin;
    }
    if (!deepest)
        return snapshot.queueKnown() ? Badge(FinderBadge::cloud) : none;
    if (deepest->state == "done")
        return FinderBadge::kept;
    if (deepest->state == "missing")
        return FinderBadge::cloud;
    if (deepest->state == "offline" || deepest->state == "lowSpace")
        return FinderBadge::paused;
    return snapshot.online() ? FinderBadge::downloading : FinderBadge::paused;
}

} // namespace

TEST(FinderBadgesTest, pendingUploadsComeFirst)
{
    const Case cases[] = {
        {"online",
         {{"Docs", true, "done"}},
         {"Docs/a.txt"},
         true,
         true,
         {{"Docs", FinderBadge::uploading},
          {"Docs/a.txt", FinderBadge::uploading},
          {"Doc", FinderBadge::cloud},
          {"Docs/b.txt", FinderBadge::kept},
          {"Docs/a.txt/x", FinderBadge::kept}}},
        {"offline",
         {},
         {"Docs/a.txt"},
         true,
         false,
         {{"Docs", FinderBadge::paused}, {"Docs/a.txt", FinderBadge::paused}, {"Docs/a", FinderBadge::cloud}}},
        // Kept items keep their badges; nothing else is said to be in the cloud.
        {"queue not known",
         {{"Docs", true, "done"}},
         {"Docs/a.txt"},
         false,
         true,
         {{"Docs/a.txt", FinderBadge::uploading}, {"Docs/b.txt", FinderBadge::kept}, {"Music", none}}},
        {"nothing pending, queue not known",
         {{"Docs", true, "done"}, {"Big.mov", false, "downloading"}},
         {},
         false,
         false,
         {{"Docs", FinderBadge::kept}, {"Big.mov", FinderBadge::paused}, {"x", none}}},
    };
    for (const Case &c : cases)
        check(c);
}

TEST(FinderBadgesTest, theDeepestCoveringPinDecides)
{
    const Case cases[] = {
        {"a file kept inside a kept folder, online",
         {{"Docs", true, "done"}, {"Docs/big.mov", false, "downloading"}},
         {},
         true,
         true,
         {{"Docs/big.mov", FinderBadge::downloading},
          {"Docs/other.txt", FinderBadge::kept},
          {"Docs", FinderBadge::kept},
          {"Docs/big.mov/x", FinderBadge::kept},
          {"Music", FinderBadge::cloud}}},
        {"the same, offline",
         {{"Docs/big.mov", false, "pending"}, {"Docs", true, "done"}},
         {},
         true,
         false,
         {{"Docs/big.mov", FinderBadge::paused}, {"Docs/other.txt", FinderBadge::kept}}},
        {"a kept file covers only itself",
         {{"Docs", false, "done"}},
         {},
         true,
         true,
         {{"Docs", FinderBadge::kept}, {"Docs/a.txt", FinderBadge::cloud}}},
        {"states of a kept folder, online",
         {{"Missing", true, "missing"},
          {"Missing/Sub", true, "done"},
          {"Full", true, "lowSpace"},
          {"Off", true, "offline"},
          {"Odd", true, "Done"}},
         {},
         true,
         true,
         {{"Missing/a", FinderBadge::cloud},
          {"Missing/Sub/a", FinderBadge::kept},
          {"Full/a", FinderBadge::paused},
          {"Off/a", FinderBadge::paused},
          {"Odd/a", FinderBadge::downloading}}},
        {"states of a kept folder, offline",
         {{"Full", true, "lowSpace"}, {"Missing", true, "missing"}},
         {},
         true,
         false,
         {{"Full/a", FinderBadge::paused}, {"Missing/a", FinderBadge::cloud}}},
        {"the same path twice: the earlier pin decides",
         {{"Docs", true, "done"}, {"Docs", true, "lowSpace"}, {"Music", true, "lowSpace"}, {"Music", true, "done"}},
         {},
         true,
         true,
         {{"Docs/a", FinderBadge::kept}, {"Docs", FinderBadge::kept}, {"Music/a", FinderBadge::paused}}},
        {"the same path as a file and then a folder",
         {{"Docs", false, "missing"}, {"Docs", true, "done"}},
         {},
         true,
         true,
         {{"Docs", FinderBadge::cloud}, {"Docs/a", FinderBadge::kept}}},
        {"deeper wins whatever the order",
         {{"A/B/C", true, "offline"}, {"A", true, "done"}, {"A/B", true, "missing"}},
         {},
         true,
         true,
         {{"A/B/C/d", FinderBadge::paused}, {"A/B/d", FinderBadge::cloud}, {"A/d", FinderBadge::kept}}},
    };
    for (const Case &c : cases)
        check(c);
}

TEST(FinderBadgesTest, composedAndDecomposedTextsAreTheSamePath)
{
    const Case cases[] = {
        {"decomposed pin, precomposed path",
         {{decomposed, true, "done"}},
         {},
         true,
         true,
         {{precomposed + "/a", FinderBadge::kept},
          {precomposed, FinderBadge::kept},
          {decomposed + "/a", FinderBadge::kept}}},
        {"precomposed pending, decomposed path",
         {},
         {precomposed + "/a.txt"},
         true,
         true,
         {{decomposed, FinderBadge::uploading}, {decomposed + "/a.txt", FinderBadge::uploading}}},
        {"two spellings of one folder tie: the earlier wins",
         {{decomposed, true, "lowSpace"}, {precomposed, true, "done"}},
         {},
         true,
         true,
         {{precomposed + "/a", FinderBadge::paused}}},
        // The decomposed spelling has more bytes but is no deeper.
        {"two spellings of one folder tie, composed first",
         {{precomposed, true, "lowSpace"}, {decomposed, true, "done"}},
         {},
         true,
         true,
         {{decomposed + "/a", FinderBadge::paused}, {precomposed, FinderBadge::paused}}},
    };
    for (const Case &c : cases)
        check(c);
}

TEST(FinderBadgesTest, locationsAreBadgedBelowTheMountOnly)
{
    const FinderBadgeSnapshot snapshot("/Users/ann/Mounts/" + decomposed, {{"Docs", true, "done"}}, {}, true, true);
    const std::string location = "/Users/ann/Mounts/" + precomposed;
    EXPECT_EQ(snapshot.badgeFor(location + "/Docs/a.txt"), FinderBadge::kept);
    EXPECT_EQ(snapshot.badgeFor(location + "/Music/../Docs/"), FinderBadge::kept);
    EXPECT_EQ(snapshot.badgeFor(location + "/Music"), FinderBadge::cloud);
    EXPECT_EQ(snapshot.badgeFor(location), none);
    EXPECT_EQ(snapshot.badgeFor(location + "2/Docs"), none);
    EXPECT_EQ(snapshot.badgeFor("Docs"), none);
}

// The plug-in runs inside the file manager: a snapshot that was moved from must still answer.
TEST(FinderBadgesTest, aMovedFromSnapshotStaysTheSameValue)
{
    FinderBadgeSnapshot snapshot(mount, {{"Docs", true, "done"}}, {"Docs/new.txt"}, true, true);
    const FinderBadgeSnapshot copy = snapshot;
    const FinderBadgeSnapshot moved = std::move(snapshot);
    FinderBadgeSnapshot assigned(mount, {}, {}, false, false);
    assigned = std::move(snapshot);
    for (const FinderBadgeSnapshot *s : {&std::as_const(snapshot), &moved, &std::as_const(assigned)}) {
        EXPECT_EQ(*s, copy);
        EXPECT_EQ(s->badge("Docs/a.txt"), FinderBadge::kept);
        EXPECT_EQ(s->badge("Docs"), FinderBadge::uploading);
        EXPECT_EQ(s->badgeFor(mount + "/Music"), FinderBadge::cloud);
        EXPECT_EQ(s->pins().size(), 1u);
    }
}

TEST(FinderBadgesTest, lookupsAgreeWithTheRuleOnRandomSnapshots)
{
    std::mt19937 random(20240611);
    const std::vector<std::string> names{"a", "b", "ab", precomposed, decomposed, ""};
    const std::vector<std::string> states{"done", "missing", "offline", "lowSpace", "partial", ""};
    const auto pick = [&](const std::vector<std::string> &from) {
        return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(random)];
    };
    const auto chance = [&](int percent) { return std::uniform_int_distribution<int>(0, 99)(random) < percent; };
    const auto randomPath = [&] {
        std::string path = pick(names);
        for (int depth = std::uniform_int_distribution<int>(0, 3)(random); depth > 0; --depth)
            path += "/" + pick(names);
        return path;
    };

    for (int round = 0; round < 2000; ++round) {
        std::vector<FinderBadgePin> pins(std::uniform_int_distribution<std::size_t>(0, 8)(random));
        for (FinderBadgePin &pin : pins)
            pin = {randomPath(), chance(70), pick(states)};
        std::vector<std::string> pending(std::uniform_int_distribution<std::size_t>(0, 3)(random));
        for (std::string &path : pending)
            path = randomPath();
        const FinderBadgeSnapshot snapshot(mount, pins, pending, chance(80), chance(60));

        for (int query = 0; query < 20; ++query) {
            const std::string path =
                chance(50) && !pins.empty() ? pins[random() % pins.size()].path + "/" + pick(names) : randomPath();
            ASSERT_EQ(snapshot.badge(path), literalBadge(snapshot, path)) << "round " << round << ": " << path;
        }
    }
}
