#include "support/StatusNotifierStandIn.h"

namespace TestSupport {

bool StatusNotifierStandIn::publish(QDBusConnection bus)
{
    return bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                              QDBusConnection::ExportScriptableContents | QDBusConnection::ExportAllProperties)
        && bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
}

void StatusNotifierStandIn::RegisterStatusNotifierItem(const QString &service, const QDBusMessage &message)
{
    // A path alone names an object of the caller.
    m_items << (service.startsWith(u'/') ? message.service() : service);
    emit StatusNotifierItemRegistered(m_items.last());
}

} // namespace TestSupport
