// Keep on this machine, as the refresh loop needs it: the pins and the upload queue re-read,
// the badges posted, the keep state posted when it changed. The user's keep and remove actions
// and the plug-in's requests build on these.
#include "DriveCore/model/AppModel.h"

namespace DriveCore {

QCoro::Task<> AppModel::refreshKept(RCClient rc)
{
    const auto pins = m_hooks.pins;
    const auto badgeQueue = m_hooks.badgeQueue;
    std::optional<PinsReply> reply;
    try {
        reply = co_await guarded(pins(rc, lifetime()));
    } catch (const std::exception &) {
        // Without the pins no badge can be worked out: show none rather than stale ones.
    }
    if (!reply) {
        if (const std::optional<QString> mount = mountPath())
            m_hooks.postFinderBadges(KeepShared::FinderBadgeSnapshot(mount->toStdString(), {}, {}, false, m_online));
        co_return;
    }
    std::optional<QStringList> queue;
    try {
        queue = co_await guarded(badgeQueue(rc, lifetime()));
    } catch (const std::exception &) {
        // The badges go out with the queue unknown.
    }
    // A reply of a launch that has ended since changes nothing.
    const std::optional<RCClient> current = runningClient();
    if (!current || current->port() != rc.port())
        co_return;

    if (const std::optional<QString> mount = mountPath()) {
        std::vector<KeepShared::FinderBadgePin> badgePins;
        badgePins.reserve(size_t(reply->pins.size()));
        for (const PinStatus &pin : reply->pins)
            badgePins.push_back({pin.path.toStdString(), pin.isDir, pin.state.toStdString()});
        std::vector<std::string> pending;
        if (queue) {
            pending.reserve(size_t(queue->size()));
            for (const QString &path : *queue)
                pending.push_back(path.toStdString());
        }
        const KeepShared::FinderBadgeSnapshot snapshot(mount->toStdString(), std::move(badgePins), std::move(pending),
                                                       queue.has_value(), m_online);
        m_hooks.postFinderBadges(snapshot.notificationState());
    }
    assign(m_keptItems, reply->pins, &AppModel::keptItemsChanged);
    assign(m_keepProgress, KeepOnMac::progressLine(*reply), &AppModel::keepProgressChanged);
    if (std::optional<KeepShared::KeepState> state = currentKeepState(); state && state != m_lastKeepState) {
        assign(m_lastKeepState, state, &AppModel::lastKeepStateChanged);
        m_hooks.postKeepState(*state);
    }
}

std::optional<KeepShared::KeepState> AppModel::currentKeepState() const
{
    const std::optional<QString> mount = mountPath();
    if (!mount)
        return std::nullopt;
    std::vector<std::string> paths;
    paths.reserve(size_t(m_keptItems.size()));
    for (const PinStatus &pin : m_keptItems)
        paths.push_back(pin.path.toStdString());
    KeepShared::KeepState state;
    state.mounts = {mount->toStdString()};
    state.pins[mount->toStdString()] = std::move(paths);
    return state;
}

} // namespace DriveCore
