#include "DriveCore/platform/SingleInstance.h"

#include "DriveCore/support/Log.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace DriveCore {

SingleInstance::SingleInstance(QDBusConnection bus, QString name, QObject *parent)
    : QObject(parent), m_bus(std::move(bus)), m_name(std::move(name))
{
}

SingleInstance::Claim SingleInstance::claim()
{
    const Log log("app");
    if (!m_bus.isConnected() || !m_bus.interface()) {
        log.error("No session bus: a second start of the application will not be noticed");
        return Claim::noBus;
    }
    // The object goes up first, so that a start racing this one finds it once the name is ours.
    m_bus.registerObject(QString::fromLatin1(objectPath), this, QDBusConnection::ExportScriptableSlots);
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = m_bus.interface()->registerService(
        m_name, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return Claim::first;
    m_bus.unregisterObject(QString::fromLatin1(objectPath));
    if (!reply.isValid()) {
        log.error("The application's bus name couldn't be taken: %{public}s", reply.error().message());
        return Claim::noBus;
    }
    const QDBusMessage call = QDBusMessage::createMethodCall(m_name, QString::fromLatin1(objectPath),
                                                             QString::fromLatin1(interface), QStringLiteral("Reopen"));
    const QDBusMessage answer = m_bus.call(call, QDBus::Block, 10000);
    if (answer.type() == QDBusMessage::ErrorMessage)
        log.error("The running application didn't answer the reopen: %{public}s", answer.errorMessage());
    return Claim::another;
}

void SingleInstance::Reopen()
{
    emit reopenRequested();
}

} // namespace DriveCore
