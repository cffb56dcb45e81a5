#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace KeepShared {

// The badge the file manager shows on an item of the drive.
class FinderBadge {
public:
    enum Value { cloud, kept, downloading, uploading, paused };
    static constexpr std::array<Value, 5> allCases{cloud, kept, downloading, uploading, paused};

    constexpr FinderBadge(Value value) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    // The text that stands for the kind in JSON and in the plug-in's emblem names.
    std::string_view rawValue() const;
    // Only the five exact texts (case counts) give a kind.
    static std::optional<FinderBadge> fromRawValue(std::string_view text);

private:
    Value m_value;
};

// One kept item as the badge rule sees it.
struct FinderBadgePin {
    std::string path; // drive-relative
    bool isDir = false;
    std::string state; // the engine's pin state, passed through: "done", "missing", "offline", "lowSpace", ...

    bool operator==(const FinderBadgePin &other) const;
};

// What the application posts for badges. Immutable: the lists and the badge rule's lookup tables
// are built once, when the snapshot is made, and shared by its copies, so a plug-in refreshing
// thousands of badges pays for normalising the lists only once. A move copies that share too, so
// a moved-from snapshot stays the same usable value.
class FinderBadgeSnapshot {
public:
    FinderBadgeSnapshot(std::string mount, std::vector<FinderBadgePin> pins, std::vector<std::string> pending,
                        bool queueKnown, bool online);
    FinderBadgeSnapshot(const FinderBadgeSnapshot &) = default;
    FinderBadgeSnapshot &operator=(const FinderBadgeSnapshot &) = default;

    const std::string &mount() const; // absolute path of the mount folder
    const std::vector<FinderBadgePin> &pins() const; // in the engine's order
    const std::vector<std::string> &pending() const; // drive-relative, in the upload queue
    bool queueKnown() const; // when false, `pending` means nothing
    bool online() const;

    // The badge of a drive-relative path. Pending uploads decide first (even when the queue is not
    // known), then the deepest pin covering the path; any other path has no badge when the queue
    // could not be read (it may be waiting to upload), else the cloud badge.
    std::optional<FinderBadge> badge(std::string_view path) const;
    // The badge of an absolute path (a file location); none outside the mount folder.
    std::optional<FinderBadge> badgeFor(std::string_view location) const;

    // What to post: the snapshot itself when it fits in one notification, otherwise its pins alone
    // (nothing pending and the queue unknown, so kept items keep their badges and nothing else
    // claims to be in the cloud) when they fit, otherwise nothing: never badges from a cut list.
    std::optional<FinderBadgeSnapshot> notificationState() const;

    bool operator==(const FinderBadgeSnapshot &other) const;

private:
    struct State;

    std::shared_ptr<const State> m_state; // never null
};

} // namespace KeepShared
