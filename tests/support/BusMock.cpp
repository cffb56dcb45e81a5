#include "support/BusMock.h"

#include "support/StopProcess.h"
#include "support/TestSupport.h"

#include <QDBusConnectionInterface>
#include <QFile>
#include <QUuid>

using namespace std::chrono_literals;

namespace TestSupport {

BusMock::BusMock() = default;

BusMock::~BusMock()
{
    if (!m_connectionName.isEmpty())
        QDBusConnection::disconnectFromBus(m_connectionName);
    stopTemplates();
    stopProcess(m_bus);
}

bool BusMock::start()
{
    const QString config = m_folder.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
                   .arg(m_folder.path())
                   .toUtf8());
    file.close();
    m_bus.setProcessChannelMode(QProcess::SeparateChannels);
    m_bus.start(
        QStringLiteral("dbus-daemon"),
        {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    if (!m_bus.waitForStarted(10000))
        return false;
    spinUntil([&] { return m_bus.canReadLine() || m_bus.state() == QProcess::NotRunning; }, 10s);
    m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
    return !m_address.isEmpty();
}

bool BusMock::startTemplate(const QString &name, const QString &busName, const QString &parameters)
{
    QStringList arguments{QStringLiteral("--template"), name};
    if (!parameters.isEmpty())
        arguments << QStringLiteral("--parameters") << parameters;
    return startMock(arguments, busName);
}

bool BusMock::startObject(const QString &busName, const QString &path, const QString &interface)
{
    return startMock({busName, path, interface}, busName);
}

bool BusMock::startMock(const QStringList &mockArguments, const QString &busName)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::MergedChannels);
    const QStringList arguments =
        QStringList{QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--session")} + mockArguments;
    // Debian's interpreter, where python3-dbusmock is installed.
    process->start(QStringLiteral("/usr/bin/python3"), arguments);
    QProcess *started = process.get();
    m_templates.push_back(std::move(process));
    if (!started->waitForStarted(10000))
        return false;
    QDBusConnection bus = connection();
    return spinUntil([&] { return bus.interface()->isServiceRegistered(busName).value(); }, 10s);
}

void BusMock::stopTemplates()
{
    for (const std::unique_ptr<QProcess> &process : m_templates) {
        m_output += process->readAll();
        stopProcess(*process);
    }
    m_templates.clear();
}

QDBusConnection BusMock::connection()
{
    if (m_connectionName.isEmpty()) {
        m_connectionName = QStringLiteral("bus-mock-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        return QDBusConnection::connectToBus(m_address, m_connectionName);
    }
    return QDBusConnection(m_connectionName);
}

QString BusMock::output()
{
    m_output += m_bus.readAllStandardError();
    for (const std::unique_ptr<QProcess> &process : m_templates)
        m_output += process->readAll();
    return QString::fromUtf8(m_output);
}

} // namespace TestSupport
