#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace TestSupport {

// A private message bus of the test's own (dbus-daemon, no service activation) and
// python3-dbusmock services on it, standing in for the system bus. Everything it started is
// stopped, and its folder removed, when this goes away.
class BusMock {
public:
    BusMock();
    BusMock(const BusMock &) = delete;
    BusMock &operator=(const BusMock &) = delete;
    ~BusMock();

    // Starts the bus; false (see output()) when it does not come up within 10 s.
    bool start();
    // Starts dbusmock's template (such as "networkmanager" or "logind") and waits until its
    // bus name is owned; false when it is not within 10 s. Parameters are dbusmock's JSON.
    bool startTemplate(const QString &name, const QString &busName, const QString &parameters = {});
    // Starts a plain dbusmock object, with no methods or properties until the test adds them
    // through its org.freedesktop.DBus.Mock interface; false when its name is not owned within
    // 10 s.
    bool startObject(const QString &busName, const QString &path, const QString &interface);
    // Stops the services started from templates and objects: their names go away.
    void stopTemplates();

    const QString &address() const { return m_address; }
    // A connection of the test to the bus, made on first use.
    QDBusConnection connection();
    QString output();

private:
    bool startMock(const QStringList &arguments, const QString &busName);

    QTemporaryDir m_folder;
    QProcess m_bus;
    std::vector<std::unique_ptr<QProcess>> m_templates;
    QString m_address;
    QString m_connectionName;
    QByteArray m_output;
};

} // namespace TestSupport
