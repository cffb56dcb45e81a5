#include "OvraFinder/FinderSync.h"

#include "KeepShared/KeepMenu.h"

#include <algorithm>
#include <filesystem>
#include <vector>

namespace OvraFinder {

namespace {

using KeepShared::KeepRequest;
namespace KeepBridge = KeepShared::KeepBridge;
namespace KeepMenu = KeepShared::KeepMenu;

// "." and ".." resolved and repeated "/" dropped, with no "/" at the end (except for "/").
std::string standardised(const std::string &path)
{
    std::string result = std::filesystem::path(path).lexically_normal().string();
    while (result.size() > 1 && result.ends_with('/'))
        result.pop_back();
    return result;
}

} // namespace

FinderSync::FinderSync(FinderSyncController &controller, NotificationCenter &center, FinderClock &clock)
    : m_controller(controller), m_center(center), m_clock(clock)
{
}

void FinderSync::start()
{
    m_clock.scheduleRepeating(badgeTimerInterval, [this] { expireBadges(); });
    m_center.addObserver(KeepBridge::badgesName,
                         [this](std::optional<std::string_view> object) { badgesChanged(object); });
    m_center.addObserver(KeepBridge::stateName,
                         [this](std::optional<std::string_view> object) { stateChanged(object); });
    m_center.post(KeepBridge::helloName, std::nullopt);
}

void FinderSync::beginObservingDirectory(const std::string &)
{
    m_center.post(KeepBridge::helloName, std::nullopt);
}

void FinderSync::endObservingDirectory(const std::string &folder)
{
    std::string prefix = standardised(folder);
    if (!prefix.ends_with('/'))
        prefix += '/';
    std::erase_if(m_badgedURLs, [&](const std::string &item) { return standardised(item).starts_with(prefix); });
}

std::optional<std::string> FinderSync::requestBadgeIdentifier(const std::string &item)
{
    std::optional<std::string> evicted;
    if (m_badgedURLs.size() >= maxBadgedURLs && !m_badgedURLs.contains(item)) {
        // Any member will do: the set keeps no order of age or use.
        evicted = std::move(m_badgedURLs.extract(m_badgedURLs.begin()).value());
        m_controller.setBadgeIdentifier("", *evicted);
    }
    m_badgedURLs.insert(item);
    setBadge(item);
    return evicted;
}

void FinderSync::forget(const std::string &item)
{
    m_badgedURLs.erase(item);
}

std::optional<FinderSync::MenuItem> FinderSync::menu(MenuKind kind)
{
    if (kind != MenuKind::contextualMenuForItems)
        return std::nullopt;
    const std::optional<std::vector<std::string>> selection = m_controller.selectedItemURLs();
    if (!selection || selection->empty() || m_state.mounts.empty())
        return std::nullopt;

    // The first mount that holds every chosen item; a selection across mounts gets no menu.
    for (const std::string &mount : m_state.mounts) {
        std::vector<std::string> paths;
        for (const std::string &item : *selection) {
            std::optional<std::string> path = KeepMenu::drivePath(item, mount);
            if (!path)
                break;
            paths.push_back(std::move(*path));
        }
        if (paths.size() != selection->size())
            continue;

        const auto pins = m_state.pins.find(mount);
        const KeepMenu::MenuChoice choice =
            KeepMenu::menuChoice(paths, pins == m_state.pins.end() ? std::vector<std::string>{} : pins->second);
        switch (choice.kind) {
        case KeepMenu::MenuChoice::Kind::keep:
            return MenuItem{std::string(keepTitle), KeepRequest::Action::keep};
        case KeepMenu::MenuChoice::Kind::remove:
            return MenuItem{std::string(removeTitle), KeepRequest::Action::remove};
        case KeepMenu::MenuChoice::Kind::keptWithFolder:
            return MenuItem{std::string(keptWithFolderStart) + choice.name + std::string(keptWithFolderEnd),
                            std::nullopt};
        case KeepMenu::MenuChoice::Kind::none:
            return std::nullopt;
        }
    }
    return std::nullopt;
}

void FinderSync::keep()
{
    send(KeepRequest::Action::keep);
}

void FinderSync::remove()
{
    send(KeepRequest::Action::remove);
}

void FinderSync::stateChanged(std::optional<std::string_view> object)
{
    std::optional<KeepShared::KeepState> state = KeepBridge::decode<KeepShared::KeepState>(object);
    if (!state)
        return;
    m_state = std::move(*state);
    m_controller.setDirectoryURLs(m_state.mounts);
    updateVisibleBadges();
}

void FinderSync::badgesChanged(std::optional<std::string_view> object)
{
    std::optional<KeepShared::FinderBadgeSnapshot> snapshot =
        KeepBridge::decode<KeepShared::FinderBadgeSnapshot>(object);
    if (!snapshot)
        return;
    m_badgeState = std::move(*snapshot);
    m_badgeReceivedAt = m_clock.now();
    updateVisibleBadges();
}

void FinderSync::expireBadges()
{
    if (!m_badgeState || snapshotIsFresh())
        return;
    m_badgeState.reset();
    updateVisibleBadges();
}

void FinderSync::updateVisibleBadges()
{
    for (const std::string &item : m_badgedURLs)
        setBadge(item);
}

void FinderSync::setBadge(const std::string &item)
{
    std::optional<KeepShared::FinderBadge> badge;
    if (m_badgeState && snapshotIsFresh()
        && std::ranges::find(m_state.mounts, m_badgeState->mount()) != m_state.mounts.end()) {
        // Nothing outside the snapshot's mount and nothing for the mount folder itself.
        badge = m_badgeState->badgeFor(item);
    }
    m_controller.setBadgeIdentifier(badge ? badge->rawValue() : std::string_view(), item);
}

void FinderSync::send(KeepRequest::Action action)
{
    std::vector<std::string> paths = m_controller.selectedItemURLs().value_or(std::vector<std::string>{});
    if (paths.empty())
        return;
    const std::optional<std::string> json = KeepBridge::encode(KeepRequest{action, std::move(paths)});
    if (!json)
        return;
    m_center.post(KeepBridge::requestName, *json);
}

bool FinderSync::snapshotIsFresh() const
{
    return m_clock.now() - m_badgeReceivedAt < badgeLifetime;
}

} // namespace OvraFinder
