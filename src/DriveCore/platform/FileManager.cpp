#include "DriveCore/platform/FileManager.h"

#include "DriveCore/support/Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>

namespace DriveCore::FileManager {

void showItems(const QList<QUrl> &items, const QDBusConnection &bus, std::function<void()> unanswered)
{
    if (items.isEmpty())
        return;
    QStringList uris;
    uris.reserve(items.size());
    for (const QUrl &item : items)
        uris << QString::fromUtf8(item.toEncoded());
    QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(service), QLatin1String(path),
                                                       QLatin1String(interface), QStringLiteral("ShowItems"));
    // No startup notification id: the file manager raises its own window.
    call << uris << QString();
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection(bus).asyncCall(call));
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, unanswered = std::move(unanswered)] {
            watcher->deleteLater();
            const QDBusPendingReply<> reply = *watcher;
            if (!reply.isError())
                return;
            Log("app").error("The file manager didn't show the items: %{public}s", reply.error().message());
            if (unanswered)
                unanswered();
        });
}

} // namespace DriveCore::FileManager
