#include "support/FileManagerStandIn.h"

#include <QUuid>

namespace TestSupport {

FileManagerStandIn::FileManagerStandIn(const QString &address)
    : m_name(QStringLiteral("file-manager-") + QUuid::createUuid().toString(QUuid::WithoutBraces)),
      m_bus(QDBusConnection::connectToBus(address, m_name))
{
}

FileManagerStandIn::~FileManagerStandIn() { QDBusConnection::disconnectFromBus(m_name); }

bool FileManagerStandIn::start()
{
    return m_bus.isConnected() && m_bus.registerService(QStringLiteral("org.freedesktop.FileManager1")) &&
        m_bus.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), this, QDBusConnection::ExportAllSlots);
}

void FileManagerStandIn::ShowItems(const QStringList &uris, const QString &startupId)
{
    m_calls.append({uris, startupId});
}

} // namespace TestSupport
