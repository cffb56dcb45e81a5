#include "KeepShared/KeepBridge.h"

#include <gtest/gtest.h>

#include <string>

using namespace KeepShared;

namespace {

const std::string mount = "/Users/ann/Mounts/Drive";
const std::string precomposed = "Caf\u00e9"; // é as one code point
const std::string decomposed = "Cafe\u0301"; // e and a combining acute accent

FinderBadgeSnapshot snapshotWithPending(std::string pending)
{
    return FinderBadgeSnapshot(mount, {{"Docs", true, "done"}}, {std::move(pending)}, true, true);
}

// A snapshot whose JSON is exactly `bytes` long, padded with slashes, which cost two bytes each.
FinderBadgeSnapshot snapshotOfSize(std::size_t bytes)
{
    const std::size_t base = KeepBridge::encode(snapshotWithPending("")).value().size();
    const std::size_t padding = bytes - base;
    return snapshotWithPending(std::string(padding / 2, '/') + std::string(padding % 2, 'a'));
}

} // namespace

TEST(KeepBridgeTest, valuesSurviveTheRoundTrip)
{
    const FinderBadgeSnapshot snapshot(mount, {{"Docs", true, "done"}, {"Docs/" + decomposed, false, "downloading"}},
                                       {"Music/a.mp3"}, false, true);
    EXPECT_EQ(KeepBridge::decode<FinderBadgeSnapshot>(KeepBridge::encode(snapshot)), snapshot);

    const KeepState state{{mount}, {{mount, {"Docs", precomposed + "/x"}}}};
    EXPECT_EQ(KeepBridge::decode<KeepState>(KeepBridge::encode(state)), state);

    const KeepRequest request{KeepRequest::Action::remove, {mount + "/Docs", mount + "/" + precomposed}};
    EXPECT_EQ(KeepBridge::decode<KeepRequest>(KeepBridge::encode(request)), request);

    const FinderBadgePin pin{"Photos/2019", true, "lowSpace"};
    EXPECT_EQ(KeepBridge::decode<FinderBadgePin>(KeepBridge::encode(pin)), pin);
}

TEST(KeepBridgeTest, slashesAreEscapedOnTheWireAndReadBack)
{
    const KeepRequest request{KeepRequest::Action::keep, {"/Users/ann/a.txt"}};
    const std::optional<std::string> text = KeepBridge::encode(request);
    EXPECT_EQ(text, R"({"action":"keep","paths":["\/Users\/ann\/a.txt"]})");
    EXPECT_EQ(KeepBridge::decode<KeepRequest>(text)->paths.front(), "/Users/ann/a.txt");
    // Other writers may leave slashes alone.
    EXPECT_EQ(KeepBridge::decode<KeepRequest>(R"({"paths":["/a/b"],"action":"keep"})")->paths.front(), "/a/b");
}

TEST(KeepBridgeTest, aSnapshotOverTheLimitGoesOutAsItsPinsAloneOrNotAtAll)
{
    const FinderBadgeSnapshot fits = snapshotOfSize(65536);
    const std::optional<std::string> text = KeepBridge::encode(fits);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size(), 65536u);
    EXPECT_EQ(fits.notificationState(), fits);
    EXPECT_EQ(KeepBridge::decode<FinderBadgeSnapshot>(text), fits);

    // Too many pending paths: the pins go out alone, so the kept folder keeps its badge, and
    // nothing is said of the paths that may be waiting to upload.
    const FinderBadgeSnapshot tooLarge = snapshotOfSize(65537);
    EXPECT_FALSE(KeepBridge::encode(tooLarge));
    const std::optional<FinderBadgeSnapshot> pinsAlone = tooLarge.notificationState();
    ASSERT_TRUE(pinsAlone);
    EXPECT_EQ(*pinsAlone, FinderBadgeSnapshot(mount, {{"Docs", true, "done"}}, {}, false, true));
    EXPECT_TRUE(KeepBridge::encode(*pinsAlone));
    EXPECT_EQ(pinsAlone->badge("Docs"), FinderBadge::kept);
    EXPECT_EQ(pinsAlone->badge("Docs/a.txt"), FinderBadge::kept);
    EXPECT_EQ(pinsAlone->badge("Music/a.mp3"), std::nullopt);

    // Too many pins: nothing fits that would not cut a list.
    std::vector<FinderBadgePin> pins;
    for (int i = 0; i < 2000; ++i)
        pins.push_back({"Folder/with/a/long/enough/name/" + std::to_string(i), false, "done"});
    EXPECT_EQ(FinderBadgeSnapshot(mount, pins, {"a.txt"}, true, true).notificationState(), std::nullopt);
}

TEST(KeepBridgeTest, aKeepStateOverTheLimitIsPostedWithItsMountsOnly)
{
    const KeepState small{{mount}, {{mount, {"Docs"}}}};
    EXPECT_EQ(small.notificationState(), small);

    KeepState large{{mount}, {{mount, {}}}};
    for (int i = 0; i < 2000; ++i)
        large.pins[mount].push_back("Folder/with/a/long/enough/name/" + std::to_string(i));
    ASSERT_FALSE(KeepBridge::encode(large));
    const KeepState reduced = large.notificationState();
    EXPECT_EQ(reduced, (KeepState{{mount}, {}}));
    EXPECT_TRUE(KeepBridge::encode(reduced));
}

TEST(KeepBridgeTest, textThatIsNotUtf8DoesNotEncode)
{
    EXPECT_FALSE(KeepBridge::encode(KeepRequest{KeepRequest::Action::keep, {"/a/\xff.txt"}}));
    const FinderBadgeSnapshot snapshot(mount, {{"\xff", false, "done"}}, {}, true, false);
    EXPECT_EQ(snapshot.notificationState(), std::nullopt);
    const FinderBadgeSnapshot pending(mount, {{"Docs", true, "done"}}, {"\xff"}, true, false);
    EXPECT_EQ(pending.notificationState(), FinderBadgeSnapshot(mount, {{"Docs", true, "done"}}, {}, false, false));
}

TEST(KeepBridgeTest, theReceiverReadsNoMoreThanTheLimit)
{
    const std::string request = R"({"action":"keep","paths":[]})";
    const std::string atLimit = request + std::string(65536 - request.size(), ' ');
    EXPECT_TRUE(KeepBridge::decode<KeepRequest>(atLimit));
    EXPECT_FALSE(KeepBridge::decode<KeepRequest>(atLimit + " "));
    EXPECT_FALSE(KeepBridge::decode<KeepRequest>(std::nullopt));
}

TEST(KeepBridgeTest, requestsDecodeOnlyWithAKnownActionAndEveryKey)
{
    struct Case {
        const char *json;
        std::optional<KeepRequest::Action> action; // none: decodes to nothing
    };
    const Case cases[] = {
        {R"({"action":"keep","paths":["/a"]})", KeepRequest::Action::keep},
        {R"({"paths":["/a"],"action":"remove","from":"finder"})", KeepRequest::Action::remove},
        {R"({"action":"Keep","paths":["/a"]})", std::nullopt},
        {R"({"action":"KEEP","paths":["/a"]})", std::nullopt},
        {R"({"action":"delete","paths":["/a"]})", std::nullopt},
        {R"({"action":"","paths":["/a"]})", std::nullopt},
        {R"({"action":1,"paths":["/a"]})", std::nullopt},
        {R"({"action":"keep"})", std::nullopt},
        {R"({"action":"keep","paths":"/a"})", std::nullopt},
        {R"({"action":"keep","paths":[1]})", std::nullopt},
        {R"({"action":"keep","paths":null})", std::nullopt},
        {R"([{"action":"keep","paths":[]}])", std::nullopt},
        {R"("keep")", std::nullopt},
        {R"({"action":"keep","paths":[]} trailing)", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case &c : cases) {
        const std::optional<KeepRequest> request = KeepBridge::decode<KeepRequest>(c.json);
        EXPECT_EQ(request ? std::optional(request->action) : std::nullopt, c.action) << c.json;
    }
}

TEST(KeepBridgeTest, snapshotsDecodeOnlyWithEveryKeyOfTheRightType)
{
    struct Case {
        const char *json;
        bool decodes;
    };
    const Case cases[] = {
        {R"({"mount":"\/M","pins":[{"path":"a","isDir":true,"state":"done"}],"pending":[],"queueKnown":true,"online":true})",
         true},
        {R"({"online":false,"queueKnown":false,"pending":["a"],"pins":[],"mount":"/M","version":2})", true},
        {R"({"mount":"/M","pins":[],"pending":[],"queueKnown":true})", false},
        {R"({"mount":"/M","pins":[],"pending":[],"queueKnown":1,"online":true})", false},
        {R"({"mount":"/M","pins":[],"pending":[],"queueKnown":"true","online":true})", false},
        {R"({"mount":null,"pins":[],"pending":[],"queueKnown":true,"online":true})", false},
        {R"({"mount":"/M","pins":{},"pending":[],"queueKnown":true,"online":true})", false},
        {R"({"mount":"/M","pins":[{"path":"a","state":"done"}],"pending":[],"queueKnown":true,"online":true})", false},
        {R"({"mount":"/M","pins":["a"],"pending":[],"queueKnown":true,"online":true})", false},
        {R"({"mount":"/M","pins":[],"pending":"a","queueKnown":true,"online":true})", false},
        {R"({"mount":"/M","pins":[],"pending":[],"queueKnown":true,"online":true)", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(KeepBridge::decode<FinderBadgeSnapshot>(c.json).has_value(), c.decodes) << c.json;
}

TEST(KeepBridgeTest, keepStatesDecodeWithMountsMissingFromPins)
{
    const std::optional<KeepState> state =
        KeepBridge::decode<KeepState>(R"({"mounts":["\/M","\/N"],"pins":{"\/M":["Docs"]}})");
    ASSERT_TRUE(state);
    EXPECT_EQ(*state, (KeepState{{"/M", "/N"}, {{"/M", {"Docs"}}}}));
    EXPECT_FALSE(state->pins.contains("/N"));

    for (const char *json :
         {R"({"mounts":["/M"]})", R"({"mounts":"/M","pins":{}})", R"({"mounts":["/M"],"pins":[]})",
          R"({"mounts":["/M"],"pins":[["/M",["Docs"]]]})", R"({"mounts":["/M"],"pins":{"/M":"Docs"}})"})
        EXPECT_FALSE(KeepBridge::decode<KeepState>(json)) << json;
}

TEST(KeepBridgeTest, kindsAndActionsAreMadeFromTheirExactText)
{
    for (FinderBadge::Value kind : FinderBadge::allCases)
        EXPECT_EQ(FinderBadge::fromRawValue(FinderBadge(kind).rawValue()), kind);
    for (KeepRequest::Action::Value action : KeepRequest::Action::allCases)
        EXPECT_EQ(KeepRequest::Action::fromRawValue(KeepRequest::Action(action).rawValue()), action);

    EXPECT_EQ(FinderBadge::fromRawValue("kept"), FinderBadge::kept);
    EXPECT_EQ(FinderBadge(FinderBadge::kept).rawValue(), "kept");
    EXPECT_EQ(FinderBadge(FinderBadge::downloading).rawValue(), "downloading");
    for (const char *text : {"Kept", "KEPT", "kept ", "", "pinned"})
        EXPECT_FALSE(FinderBadge::fromRawValue(text)) << text;
    EXPECT_FALSE(KeepRequest::Action::fromRawValue("Remove"));
}

TEST(KeepBridgeTest, valuesCompareTextsByCanonicalEquivalence)
{
    EXPECT_EQ((KeepRequest{KeepRequest::Action::keep, {"/M/" + precomposed}}),
              (KeepRequest{KeepRequest::Action::keep, {"/M/" + decomposed}}));
    EXPECT_NE((KeepRequest{KeepRequest::Action::keep, {"/M/a"}}), (KeepRequest{KeepRequest::Action::remove, {"/M/a"}}));
    EXPECT_NE((KeepRequest{KeepRequest::Action::keep, {"/M/a", "/M/b"}}),
              (KeepRequest{KeepRequest::Action::keep, {"/M/b", "/M/a"}}));

    const KeepState state{{"/" + precomposed}, {{"/" + precomposed, {precomposed}}}};
    EXPECT_EQ(state, (KeepState{{"/" + decomposed}, {{"/" + decomposed, {decomposed}}}}));
    EXPECT_NE(state, (KeepState{{"/" + precomposed}, {{"/" + precomposed, {}}}}));
    EXPECT_NE(state, (KeepState{{"/" + precomposed}, {{"/Other", {precomposed}}}}));
    // Two spellings of one key on one side are not one key and another on the other side.
    const KeepState twice{{"/M"}, {{"/" + precomposed, {"a"}}, {"/" + decomposed, {"a"}}}};
    const KeepState other{{"/M"}, {{"/" + precomposed, {"a"}}, {"/Other", {"a"}}}};
    EXPECT_NE(twice, other);
    EXPECT_NE(other, twice);

    EXPECT_EQ(FinderBadgeSnapshot("/" + precomposed, {{precomposed, true, "done"}}, {precomposed}, true, true),
              FinderBadgeSnapshot("/" + decomposed, {{decomposed, true, "done"}}, {decomposed}, true, true));
    EXPECT_NE(FinderBadgeSnapshot(mount, {{"a", true, "done"}}, {}, true, true),
              FinderBadgeSnapshot(mount, {{"a", false, "done"}}, {}, true, true));
}
