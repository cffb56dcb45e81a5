#include "OvraFinder/FinderSync.h"
#include "OvraFinder/HelloThrottle.h"

#include "KeepShared/KeepBridge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

using namespace OvraFinder;
using namespace std::chrono_literals;
using KeepShared::FinderBadgeSnapshot;
using KeepShared::KeepRequest;
using KeepShared::KeepState;
namespace KeepBridge = KeepShared::KeepBridge;

namespace {

const std::string mount = "/home/ann/Mounts/Drive";
const std::string otherMount = "/home/ann/Mounts/Other";

class FakeController final : public FinderSyncController {
public:
    void setBadgeIdentifier(std::string_view identifier, const std::string &item) override
    {
        badges[item] = std::string(identifier);
        calls.emplace_back(item, identifier);
    }
    void setDirectoryURLs(const std::vector<std::string> &folders) override { directories.push_back(folders); }
    std::optional<std::vector<std::string>> selectedItemURLs() override { return selection; }

    std::map<std::string, std::string> badges; // the last badge set per item
    std::vector<std::pair<std::string, std::string>> calls;
    std::vector<std::vector<std::string>> directories;
    std::optional<std::vector<std::string>> selection;
};

class FakeCenter final : public NotificationCenter {
public:
    struct Post {
        std::string name;
        std::optional<std::string> object;
        std::size_t observers; // how many observers were in place when it went out
    };

    void addObserver(std::string_view name, Handler handler) override
    {
        observers.emplace(std::string(name), std::move(handler));
    }
    void post(std::string_view name, std::optional<std::string_view> object) override
    {
        posts.push_back(
            {std::string(name), object ? std::optional<std::string>(*object) : std::nullopt, observers.size()});
    }

    // Delivers as the application would.
    void deliver(std::string_view name, std::optional<std::string_view> object)
    {
        const auto [first, last] = observers.equal_range(std::string(name));
        for (auto observer = first; observer != last; ++observer)
            observer->second(object);
    }

    std::size_t count(std::string_view name) const
    {
        return static_cast<std::size_t>(
            std::ranges::count_if(posts, [&](const Post &post) { return post.name == name; }));
    }

    std::multimap<std::string, Handler> observers;
    std::vector<Post> posts;
};

class FakeClock final : public FinderClock {
public:
    time_point now() const override { return m_now; }
    void scheduleRepeating(std::chrono::milliseconds interval, std::function<void()> action) override
    {
        m_timers.push_back({interval, m_now + interval, std::move(action)});
    }

    // Moves time on, firing every timer that falls due on the way, in time order.
    void advance(std::chrono::nanoseconds by)
    {
        const time_point end = m_now + by;
        for (;;) {
            Timer *next = nullptr;
            for (Timer &timer : m_timers) {
                if (timer.due <= end && (!next || timer.due < next->due))
                    next = &timer;
            }
            if (!next)
                break;
            m_now = next->due;
            next->due += next->interval;
            next->action();
        }
        m_now = end;
    }

    std::size_t timers() const { return m_timers.size(); }

private:
    struct Timer {
        std::chrono::milliseconds interval;
        time_point due;
        std::function<void()> action;
    };

    time_point m_now{1000h};
    std::vector<Timer> m_timers;
};

std::string stateJson(const KeepState &state)
{
    return KeepBridge::encode(state).value();
}

std::string snapshotJson(const std::string &snapshotMount = mount)
{
    return KeepBridge::encode(FinderBadgeSnapshot(snapshotMount,
                                                  {{"Photos", true, "done"}, {"Music/a.mp3", false, "fetching"}},
                                                  {"Docs/draft.txt"}, true, true))
        .value();
}

class FinderSyncTest : public testing::Test {
protected:
    FinderSyncTest() { finder.start(); }

    void postState(const KeepState &state) { center.deliver(KeepBridge::stateName, stateJson(state)); }
    void postSnapshot(const std::string &snapshotMount = mount)
    {
        center.deliver(KeepBridge::badgesName, snapshotJson(snapshotMount));
    }
    // The badge the item gets when the file manager asks now.
    std::string ask(const std::string &item)
    {
        finder.requestBadgeIdentifier(item);
        return controller.badges.at(item);
    }

    FakeController controller;
    FakeCenter center;
    FakeClock clock;
    FinderSync finder{controller, center, clock};
};

} // namespace

TEST_F(FinderSyncTest, startUpListensBeforeItSaysHello)
{
    ASSERT_EQ(center.posts.size(), 1u);
    EXPECT_EQ(center.posts[0].name, KeepBridge::helloName);
    EXPECT_EQ(center.posts[0].object, std::nullopt);
    EXPECT_EQ(center.posts[0].observers, 2u);
    EXPECT_EQ(center.observers.count(std::string(KeepBridge::stateName)), 1u);
    EXPECT_EQ(center.observers.count(std::string(KeepBridge::badgesName)), 1u);
    EXPECT_EQ(clock.timers(), 1u);
    EXPECT_TRUE(controller.directories.empty()); // nothing watched until a keep state arrives
}

TEST_F(FinderSyncTest, badgesComeFromAFreshSnapshotOfAWatchedMount)
{
    postSnapshot();
    // No keep state yet: the snapshot's mount is not among the (empty) mounts.
    EXPECT_EQ(ask(mount + "/Photos/a.jpg"), "");

    postState({{mount}, {}});
    EXPECT_EQ(controller.directories.back(), std::vector<std::string>{mount});
    struct Case {
        std::string item;
        std::string badge;
    };
    const Case cases[] = {
        {mount + "/Photos/a.jpg", "kept"},
        {mount + "/Photos", "kept"},
        {mount + "/Music/a.mp3", "downloading"},
        {mount + "/Docs/draft.txt", "uploading"},
        {mount + "/Docs", "uploading"},
        {mount + "/Other.txt", "cloud"},
        {mount, ""}, // the mount folder itself
        {mount + "/", ""},
        {"/home/ann/Mounts/Drive2/a.txt", ""}, // a sibling whose name starts alike
        {"/home/ann/notes.txt", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ask(c.item), c.badge) << c.item;

    // A snapshot of a mount that the keep state does not list gives nothing.
    postSnapshot(otherMount);
    EXPECT_EQ(ask(otherMount + "/Photos/a.jpg"), "");
}

TEST_F(FinderSyncTest, aSnapshotGivesBadgesForUnderThirtySecondsAndTheTimerClearsThemWithinThirtyFive)
{
    postState({{mount}, {}});
    clock.advance(2s); // received between two ticks, which come every 5 s from start-up
    postSnapshot();
    const std::string kept = mount + "/Photos/a.jpg";
    const std::string cloud = mount + "/b.txt";
    EXPECT_EQ(ask(cloud), "cloud");

    clock.advance(29900ms);
    EXPECT_EQ(ask(kept), "kept");
    clock.advance(100ms);
    EXPECT_EQ(ask(kept), ""); // 30.0 s old: no badge, although the snapshot is still held

    // The tick at 35 s drops the snapshot and clears every remembered item at once.
    controller.badges[cloud] = "stale";
    clock.advance(2999ms);
    EXPECT_EQ(controller.badges[cloud], "stale");
    clock.advance(1ms);
    EXPECT_EQ(controller.badges[cloud], "");
    EXPECT_EQ(controller.badges[kept], "");

    // A new snapshot brings the badges back to every remembered item.
    postSnapshot();
    EXPECT_EQ(controller.badges[cloud], "cloud");
    EXPECT_EQ(controller.badges[kept], "kept");
}

TEST_F(FinderSyncTest, payloadsThatDoNotDecodeAreIgnored)
{
    postState({{mount}, {}});
    postSnapshot();
    const std::string item = mount + "/Photos/a.jpg";
    EXPECT_EQ(ask(item), "kept");
    const std::size_t watchedChanges = controller.directories.size();

    for (const std::optional<std::string_view> object :
         {std::optional<std::string_view>(), std::optional<std::string_view>("{"),
          std::optional<std::string_view>("{\"mounts\":[]}"), std::optional<std::string_view>("[]")}) {
        center.deliver(KeepBridge::stateName, object);
        center.deliver(KeepBridge::badgesName, object);
    }
    EXPECT_EQ(controller.directories.size(), watchedChanges);
    EXPECT_EQ(ask(item), "kept");

    // The ignored snapshot did not renew the held one, which keeps ageing.
    clock.advance(30s);
    EXPECT_EQ(ask(item), "");
}

TEST_F(FinderSyncTest, aKeepStateWithoutTheSnapshotsMountClearsEveryBadgeAtOnce)
{
    postState({{mount}, {}});
    postSnapshot();
    const std::string item = mount + "/Photos/a.jpg";
    EXPECT_EQ(ask(item), "kept");

    postState({{otherMount}, {}});
    EXPECT_EQ(controller.badges[item], "");
    postState({{}, {}});
    EXPECT_EQ(controller.directories.back(), std::vector<std::string>{});
}

TEST_F(FinderSyncTest, theTenThousandAndFirstItemEvictsExactlyOneOther)
{
    postState({{mount}, {}});
    postSnapshot();
    for (std::size_t i = 0; i < FinderSync::maxBadgedURLs; ++i)
        EXPECT_EQ(finder.requestBadgeIdentifier(mount + "/f" + std::to_string(i)), std::nullopt);
    ASSERT_EQ(finder.badgedURLs().size(), 10000u);

    // Asking again for a remembered item evicts nothing.
    controller.calls.clear();
    EXPECT_EQ(finder.requestBadgeIdentifier(mount + "/f17"), std::nullopt);
    EXPECT_EQ(controller.calls.size(), 1u);

    controller.calls.clear();
    const std::string added = mount + "/new";
    const std::optional<std::string> evicted = finder.requestBadgeIdentifier(added);
    ASSERT_TRUE(evicted);
    EXPECT_NE(*evicted, added);
    EXPECT_EQ(finder.badgedURLs().size(), 10000u);
    EXPECT_FALSE(finder.badgedURLs().contains(*evicted));
    EXPECT_TRUE(finder.badgedURLs().contains(added));
    const std::vector<std::pair<std::string, std::string>> expected{{*evicted, ""}, {added, "cloud"}};
    EXPECT_EQ(controller.calls, expected);
}

TEST_F(FinderSyncTest, endObservingAFolderForgetsWhatLiesBelowItButNotItselfOrASiblingWithALongerName)
{
    postState({{mount}, {}});
    const std::string a = mount + "/A";
    const std::vector<std::string> forgotten{a + "/x", a + "/deep/er/y", a + "/./z", mount + "/B/../A/w"};
    const std::vector<std::string> kept{a, mount + "/AB", mount + "/AB/x", mount + "/B/x"};
    for (const std::string &item : forgotten)
        finder.requestBadgeIdentifier(item);
    for (const std::string &item : kept)
        finder.requestBadgeIdentifier(item);
    controller.calls.clear();

    finder.endObservingDirectory(mount + "/B/../A/");
    EXPECT_EQ(finder.badgedURLs(), std::unordered_set<std::string>(kept.begin(), kept.end()));
    EXPECT_TRUE(controller.calls.empty()); // the forgotten items keep their badges
    EXPECT_EQ(center.count(KeepBridge::helloName), 1u);
}

TEST_F(FinderSyncTest, eachBeginObservingSaysHelloWhileForgettingSaysNothing)
{
    finder.beginObservingDirectory(mount);
    finder.beginObservingDirectory(mount + "/A");
    EXPECT_EQ(center.count(KeepBridge::helloName), 3u);

    finder.requestBadgeIdentifier(mount + "/A/x");
    controller.calls.clear();
    finder.forget(mount + "/A/x");
    EXPECT_TRUE(finder.badgedURLs().empty());
    EXPECT_TRUE(controller.calls.empty());
}

TEST_F(FinderSyncTest, theMenuFollowsTheSelectionAndTheKeepState)
{
    const std::string photos = mount + "/Photos";
    using Action = KeepRequest::Action;
    struct Case {
        std::string name;
        std::optional<std::vector<std::string>> selection;
        FinderSync::MenuKind kind = FinderSync::MenuKind::contextualMenuForItems;
        std::optional<FinderSync::MenuItem> item;
    };
    const Case cases[] = {
        {.name = "one file in a kept folder",
         .selection = {{photos + "/a.jpg"}},
         .item = {{"Kept with folder \u201cPhotos\u201d", std::nullopt}}},
        {.name = "two files in a kept folder",
         .selection = {{photos + "/a.jpg", photos + "/b.jpg"}},
         .item = {{"Keep on This Computer", Action::keep}}},
        {.name = "only kept items",
         .selection = {{photos, mount + "/Docs/c.txt"}},
         .item = {{"Remove from Keep on This Computer", Action::remove}}},
        {.name = "kept and not kept",
         .selection = {{photos, mount + "/d.txt"}},
         .item = {{"Keep on This Computer", Action::keep}}},
        {.name = "in the second mount",
         .selection = {{otherMount + "/e"}},
         .item = {{"Remove from Keep on This Computer", Action::remove}}},
        {.name = "across two mounts", .selection = {{mount + "/d.txt", otherMount + "/e"}}, .item = std::nullopt},
        {.name = "the mount folder", .selection = {{mount}}, .item = std::nullopt},
        {.name = "outside the drive", .selection = {{"/home/ann/f"}}, .item = std::nullopt},
        {.name = "nothing chosen", .selection = {{}}, .item = std::nullopt},
        {.name = "no selection", .selection = std::nullopt, .item = std::nullopt},
        {.name = "the folder background",
         .selection = {{mount + "/d.txt"}},
         .kind = FinderSync::MenuKind::contextualMenuForContainer,
         .item = std::nullopt},
        {.name = "the sidebar",
         .selection = {{mount + "/d.txt"}},
         .kind = FinderSync::MenuKind::contextualMenuForSidebar,
         .item = std::nullopt},
    };

    controller.selection = {{mount + "/d.txt"}};
    EXPECT_EQ(finder.menu(FinderSync::MenuKind::contextualMenuForItems), std::nullopt) << "before any keep state";

    postState({{mount, otherMount}, {{mount, {"Photos", "Docs/c.txt"}}, {otherMount, {"e"}}}});
    // The snapshot plays no part in the menu.
    center.deliver(KeepBridge::badgesName,
                   KeepBridge::encode(FinderBadgeSnapshot(mount, {}, {}, false, false)).value());
    for (const Case &c : cases) {
        controller.selection = c.selection;
        EXPECT_EQ(finder.menu(c.kind), c.item) << c.name;
    }
}

TEST_F(FinderSyncTest, theMenuActionsPostTheSelectionOfTheirMoment)
{
    controller.selection = {{mount + "/./a", mount + "/b"}};
    finder.keep();
    controller.selection = {{mount + "/c"}};
    finder.remove();
    const std::vector<std::pair<KeepRequest::Action, std::vector<std::string>>> expected{
        {KeepRequest::Action::keep, {mount + "/./a", mount + "/b"}}, {KeepRequest::Action::remove, {mount + "/c"}}};
    std::vector<std::pair<KeepRequest::Action, std::vector<std::string>>> requests;
    for (const FakeCenter::Post &post : center.posts) {
        if (post.name != KeepBridge::requestName)
            continue;
        const std::optional<KeepRequest> request = KeepBridge::decode<KeepRequest>(post.object);
        ASSERT_TRUE(request) << post.object.value_or("(none)");
        requests.emplace_back(request->action, request->paths);
    }
    EXPECT_EQ(requests, expected);

    // Nothing chosen, or a request too long for one notification: nothing is posted.
    const std::size_t posts = center.posts.size();
    controller.selection = std::nullopt;
    finder.keep();
    controller.selection = {{}};
    finder.keep();
    controller.selection = {{mount + "/" + std::string(KeepBridge::maxPayloadBytes, 'x')}};
    finder.keep();
    EXPECT_EQ(center.posts.size(), posts);
}

TEST(HelloThrottleTest, postsAtMostOneHelloASecondAndEverythingElseAtOnce)
{
    FakeCenter center;
    FakeClock clock;
    HelloThrottle throttle(center, clock);

    throttle.post(KeepBridge::helloName, std::nullopt);
    clock.advance(999ms);
    throttle.post(KeepBridge::helloName, std::nullopt);
    throttle.post(KeepBridge::requestName, "{}");
    throttle.post(KeepBridge::requestName, "{}");
    EXPECT_EQ(center.count(KeepBridge::helloName), 1u);
    EXPECT_EQ(center.count(KeepBridge::requestName), 2u);

    // A dropped hello does not move the window: one second after the last one that went out.
    clock.advance(1ms);
    throttle.post(KeepBridge::helloName, std::nullopt);
    EXPECT_EQ(center.count(KeepBridge::helloName), 2u);

    throttle.addObserver(KeepBridge::stateName, [](std::optional<std::string_view>) {});
    EXPECT_EQ(center.observers.size(), 1u);
}
