// Keep on this machine: the user's keep and remove actions, the file-manager plug-in's requests
// and hello, and the re-read of the pins that feeds the kept-files list, the badges and the keep
// state the plug-in's menu needs.
#include "DriveCore/model/AppModel.h"

#include "DriveCore/services/KeepOnMac.h"

namespace DriveCore {

namespace {

// The drive-relative paths of those absolute paths that lie inside the mount.
QStringList insideDrive(const QStringList &paths, const QString &mount)
{
    QStringList inside;
    for (const QString &path : paths) {
        if (const std::optional<QString> drivePath = KeepOnMac::drivePath(path, mount))
            inside.append(*drivePath);
    }
    return inside;
}

} // namespace

QCoro::Task<> AppModel::keep(QStringList paths)
{
    const std::optional<RCClient> rc = runningClient();
    if (!rc)
        co_return;
    const std::optional<QString> mount = mountPath();
    if (!mount)
        co_return;
    const QStringList drivePaths = insideDrive(paths, *mount);
    if (drivePaths.isEmpty())
        co_return;
    const auto pin = m_hooks.pin;
    try {
        const PinResult result = co_await guarded(pin(*rc, drivePaths, lifetime()));
        if (result.kind == PinResult::Kind::notEnoughSpace)
            assign(m_keepAlert, std::optional(KeepOnMac::notEnoughSpaceText(result.needed, result.free)),
                   &AppModel::keepAlertChanged);
    } catch (const std::exception &) {
        assign(m_keepAlert, std::optional(keepFailedText), &AppModel::keepAlertChanged);
    }
    // Whatever the engine did, the list and the badges show it.
    co_await refreshKept(*rc);
}

QCoro::Task<> AppModel::removeKept(QStringList drivePaths)
{
    const std::optional<RCClient> rc = runningClient();
    if (!rc || drivePaths.isEmpty())
        co_return;
    const auto unpin = m_hooks.unpin;
    try {
        co_await guarded(unpin(*rc, drivePaths, lifetime()));
    } catch (const std::exception &) {
        assign(m_keepAlert, std::optional(removeKeptFailedText), &AppModel::keepAlertChanged);
    }
    co_await refreshKept(*rc);
}

QCoro::Task<> AppModel::handle(KeepShared::KeepRequest request)
{
    QStringList paths;
    for (const std::string &path : request.paths)
        paths.append(QString::fromStdString(path));
    if (request.action == KeepShared::KeepRequest::Action::keep) {
        co_await keep(paths);
        co_return;
    }
    const std::optional<QString> mount = mountPath();
    if (!mount)
        co_return;
    co_await removeKept(insideDrive(paths, *mount));
}

QCoro::Task<> AppModel::refreshKept(RCClient rc)
{
    const std::optional<QUuid> deviceID = currentDeviceID();
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
    // A reply of a launch that has ended since, of a drive signed out or replaced since, or one
    // that arrives during a sign-out changes nothing.
    if (!runningClient() || !stillCurrent(rc.port(), deviceID))
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
        // The poster decides what of it fits in one notification, and logs what it drops.
        m_hooks.postFinderBadges(snapshot);
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

void AppModel::keepAddOnSaidHello()
{
    // The plug-in may have missed the last post: it gets it again, changed or not.
    const std::optional<KeepShared::KeepState> state = m_lastKeepState ? m_lastKeepState : currentKeepState();
    if (state)
        m_hooks.postKeepState(*state);
}

void AppModel::dismissKeepAlert()
{
    assign(m_keepAlert, std::optional<QString>(), &AppModel::keepAlertChanged);
}

} // namespace DriveCore
