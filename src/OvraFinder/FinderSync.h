#pragma once

#include "OvraFinder/FinderClock.h"
#include "OvraFinder/FinderSyncController.h"
#include "OvraFinder/NotificationCenter.h"

#include "KeepShared/FinderBadges.h"
#include "KeepShared/KeepBridge.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace OvraFinder {

// The plug-in's logic, free of any toolkit: it badges the drive's items from the application's
// latest badge snapshot, tells the file manager which folders to watch, and offers the Keep item
// of the context menu, whose choice goes back to the application as a keep request. Items and
// folders are absolute paths, compared as exact texts unless said otherwise. Everything runs on
// one thread: the file manager's calls, the timer and the notification handlers.
class FinderSync {
public:
    // One badge as the file manager draws it: the label also describes the image.
    struct BadgeImage {
        KeepShared::FinderBadge badge;
        std::string_view label;
        std::string_view colour; // #rrggbb
    };
    static constexpr std::array<BadgeImage, 5> badgeTable{{
        {KeepShared::FinderBadge::cloud, "Not kept on this computer (may be temporarily cached)", "#8e8e93"},
        {KeepShared::FinderBadge::kept, "Kept on this computer", "#34c759"},
        {KeepShared::FinderBadge::downloading, "Keeping on this computer", "#007aff"},
        {KeepShared::FinderBadge::uploading, "Uploading or waiting to upload", "#007aff"},
        {KeepShared::FinderBadge::paused, "Waiting for internet or free space", "#ff9500"},
    }};

    static constexpr std::string_view keepTitle = "Keep on This Computer";
    static constexpr std::string_view removeTitle = "Remove from Keep on This Computer";
    // The title of the disabled item: this text, the kept folder's name, then keptWithFolderEnd.
    static constexpr std::string_view keptWithFolderStart = "Kept with folder \u201c";
    static constexpr std::string_view keptWithFolderEnd = "\u201d";

    // At most this many items are remembered for refreshes.
    static constexpr std::size_t maxBadgedURLs = 10000;
    // A snapshot gives badges while it is younger than this.
    static constexpr std::chrono::milliseconds badgeLifetime{30000};
    static constexpr std::chrono::milliseconds badgeTimerInterval{5000};

    // The file manager's menus; only the one for chosen items ever gets the Keep item.
    enum class MenuKind {
        contextualMenuForItems,
        contextualMenuForContainer,
        contextualMenuForSidebar,
        toolbarItemMenu
    };

    // The one item of the Keep menu. Without an action the item is shown disabled.
    struct MenuItem {
        std::string title;
        std::optional<KeepShared::KeepRequest::Action> action;

        bool operator==(const MenuItem &) const = default;
    };

    // Nothing happens until start(). The three must outlive this object.
    FinderSync(FinderSyncController &controller, NotificationCenter &center, FinderClock &clock);
    FinderSync(const FinderSync &) = delete;
    FinderSync &operator=(const FinderSync &) = delete;

    // Starts the expiry timer, listens for snapshots and keep states, then says hello, so that
    // the application's answer finds the observers in place.
    void start();

    // The file manager shows a watched folder: asks the application for fresh state.
    void beginObservingDirectory(const std::string &folder);
    // The file manager no longer shows the folder: forgets the items in it and below it (by
    // their lexically standardised paths), but not the folder itself, and leaves their badges.
    void endObservingDirectory(const std::string &folder);
    // The file manager asks for an item's badge: remembers the item for refreshes and sets its
    // badge at once. When that would remember more than maxBadgedURLs, one other item is
    // forgotten first and its badge cleared; that item is returned.
    std::optional<std::string> requestBadgeIdentifier(const std::string &item);
    // The item is gone from the file manager: forgets it without touching its badge.
    void forget(const std::string &item);

    // The Keep item for the current selection, from the last keep state alone.
    std::optional<MenuItem> menu(MenuKind kind);
    // The menu item's actions: ask the application to keep, or stop keeping, the items chosen now.
    void keep();
    void remove();

    const KeepShared::KeepState &state() const { return m_state; }
    const std::unordered_set<std::string> &badgedURLs() const { return m_badgedURLs; }

private:
    void stateChanged(std::optional<std::string_view> object);
    void badgesChanged(std::optional<std::string_view> object);
    void expireBadges();
    void updateVisibleBadges();
    void setBadge(const std::string &item);
    void send(KeepShared::KeepRequest::Action action);
    bool snapshotIsFresh() const;

    FinderSyncController &m_controller;
    NotificationCenter &m_center;
    FinderClock &m_clock;

    KeepShared::KeepState m_state;
    std::optional<KeepShared::FinderBadgeSnapshot> m_badgeState;
    FinderClock::time_point m_badgeReceivedAt{};
    std::unordered_set<std::string> m_badgedURLs;
};

} // namespace OvraFinder
