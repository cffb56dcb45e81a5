#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>

namespace TestSupport {

// A tray, as the desktop's panel offers it: the watcher service with a host registered. It
// keeps the items that register.
class StatusNotifierStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    bool publish(QDBusConnection bus);
    QStringList items() const { return m_items; }
    // Forgets the items, as a panel does when their program ends.
    void forget() { m_items.clear(); }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

public slots:
    Q_SCRIPTABLE void RegisterStatusNotifierItem(const QString &service, const QDBusMessage &message);
    Q_SCRIPTABLE void RegisterStatusNotifierHost(const QString &) {}

signals:
    Q_SCRIPTABLE void StatusNotifierItemRegistered(const QString &service);
    Q_SCRIPTABLE void StatusNotifierHostRegistered();

private:
    QStringList m_items;
};

} // namespace TestSupport
