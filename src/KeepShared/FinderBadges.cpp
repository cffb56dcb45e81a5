#include "KeepShared/FinderBadges.h"

#include "KeepShared/CanonicalText.h"
#include "KeepShared/KeepBridge.h"
#include "KeepShared/KeepMenu.h"
#include "KeepShared/TextTable.h"

#include <unordered_map>
#include <unordered_set>

namespace KeepShared {

namespace {

constexpr TextTable<FinderBadge::Value, 5> badgeTexts({"cloud", "kept", "downloading", "uploading", "paused"});

FinderBadge pinBadge(std::string_view state, bool online)
{
    std::string storage;
    const std::string_view composedState = CanonicalText::composed(state, storage);
    if (composedState == "done")
        return FinderBadge::kept;
    if (composedState == "missing")
        return FinderBadge::cloud;
    if (composedState == "offline" || composedState == "lowSpace")
        return FinderBadge::paused;
    return online ? FinderBadge::downloading : FinderBadge::paused;
}

} // namespace

std::string_view FinderBadge::rawValue() const
{
    return badgeTexts.text(m_value);
}

std::optional<FinderBadge> FinderBadge::fromRawValue(std::string_view text)
{
    if (const std::optional<Value> value = badgeTexts.value(text))
        return FinderBadge(*value);
    return std::nullopt;
}

bool FinderBadgePin::operator==(const FinderBadgePin &other) const
{
    return isDir == other.isDir && CanonicalText::equal(path, other.path) && CanonicalText::equal(state, other.state);
}

struct FinderBadgeSnapshot::State {
    // The badge rule answered by lookups instead of passes over the lists. Every text is in composed
    // form, so canonical equality is byte equality, and a path p that "begins with q followed by /" is
    // one whose prefix up to one of its slashes is q.
    struct Index {
        // Composed copies of the paths; the tables view into them, so it never grows after building.
        std::vector<std::string> texts;
        // Every pending path and every prefix of one that ends before a "/".
        std::unordered_set<std::string_view> pendingAt;
        // Per path: the badge of the first pin with that path, and of the first folder pin with it.
        // The deepest covering pin wins, and among pins of one path the earliest.
        std::unordered_map<std::string_view, FinderBadge> pinAt;
        std::unordered_map<std::string_view, FinderBadge> folderPinAt;

        Index(const std::vector<FinderBadgePin> &pins, const std::vector<std::string> &pending, bool online)
        {
            texts.reserve(pending.size() + pins.size());
            for (const std::string &path : pending)
                texts.push_back(CanonicalText::composed(path));
            for (const FinderBadgePin &pin : pins)
                texts.push_back(CanonicalText::composed(pin.path));

            for (std::size_t i = 0; i < pending.size(); ++i) {
                const std::string_view path = texts[i];
                pendingAt.insert(path);
                for (auto slash = path.find('/'); slash != std::string_view::npos; slash = path.find('/', slash + 1))
                    pendingAt.insert(path.substr(0, slash));
            }
            pinAt.reserve(pins.size());
            for (std::size_t i = 0; i < pins.size(); ++i) {
                const std::string_view path = texts[pending.size() + i];
                const FinderBadge badge = pinBadge(pins[i].state, online);
                pinAt.emplace(path, badge);
                if (pins[i].isDir)
                    folderPinAt.emplace(path, badge);
            }
        }
        Index(const Index &) = delete; // the tables view into `texts`
        Index &operator=(const Index &) = delete;
    };

    std::string mount;
    std::vector<FinderBadgePin> pins;
    std::vector<std::string> pending;
    bool queueKnown;
    bool online;
    Index index;

    State(std::string mount, std::vector<FinderBadgePin> pins, std::vector<std::string> pending, bool queueKnown,
          bool online)
        : mount(std::move(mount)), pins(std::move(pins)), pending(std::move(pending)), queueKnown(queueKnown),
          online(online), index(this->pins, this->pending, online)
    {
    }
};

FinderBadgeSnapshot::FinderBadgeSnapshot(std::string mount, std::vector<FinderBadgePin> pins,
                                         std::vector<std::string> pending, bool queueKnown, bool online)
    : m_state(std::make_shared<const State>(std::move(mount), std::move(pins), std::move(pending), queueKnown, online))
{
}

const std::string &FinderBadgeSnapshot::mount() const
{
    return m_state->mount;
}
const std::vector<FinderBadgePin> &FinderBadgeSnapshot::pins() const
{
    return m_state->pins;
}
const std::vector<std::string> &FinderBadgeSnapshot::pending() const
{
    return m_state->pending;
}
bool FinderBadgeSnapshot::queueKnown() const
{
    return m_state->queueKnown;
}
bool FinderBadgeSnapshot::online() const
{
    return m_state->online;
}

std::optional<FinderBadge> FinderBadgeSnapshot::badge(std::string_view path) const
{
    std::string storage;
    const std::string_view p = CanonicalText::composed(path, storage);
    const State::Index &index = m_state->index;

    if (index.pendingAt.contains(p))
        return m_state->online ? FinderBadge::uploading : FinderBadge::paused;

    if (auto found = index.pinAt.find(p); found != index.pinAt.end())
        return found->second;
    // Folders above p, deepest first.
    for (auto slash = p.rfind('/'); slash != std::string_view::npos;
         slash = slash == 0 ? std::string_view::npos : p.rfind('/', slash - 1)) {
        if (auto found = index.folderPinAt.find(p.substr(0, slash)); found != index.folderPinAt.end())
            return found->second;
    }
    // Without the queue, "in the cloud" could be said of a file still waiting to upload.
    if (!m_state->queueKnown)
        return std::nullopt;
    return FinderBadge::cloud;
}

std::optional<FinderBadge> FinderBadgeSnapshot::badgeFor(std::string_view location) const
{
    const std::optional<std::string> path = KeepMenu::drivePath(location, m_state->mount);
    if (!path)
        return std::nullopt;
    return badge(*path);
}

std::optional<FinderBadgeSnapshot> FinderBadgeSnapshot::notificationState() const
{
    if (KeepBridge::encode(*this))
        return *this;
    FinderBadgeSnapshot pinsAlone(m_state->mount, m_state->pins, {}, false, m_state->online);
    if (KeepBridge::encode(pinsAlone))
        return pinsAlone;
    return std::nullopt;
}

bool FinderBadgeSnapshot::operator==(const FinderBadgeSnapshot &other) const
{
    const State &a = *m_state;
    const State &b = *other.m_state;
    return a.queueKnown == b.queueKnown && a.online == b.online && CanonicalText::equal(a.mount, b.mount)
        && a.pins == b.pins && CanonicalText::equal(a.pending, b.pending);
}

} // namespace KeepShared
