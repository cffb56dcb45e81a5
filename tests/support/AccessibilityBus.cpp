#include "support/AccessibilityBus.h"

#include "DriveCore/platform/ProcessListing.h"
#include "support/StopProcess.h"
#include "support/TestSupport.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QFile>
#include <QUuid>

#include <csignal>

using namespace std::chrono_literals;

namespace TestSupport {

namespace {

const QString accessibleInterface = QStringLiteral("org.a11y.atspi.Accessible");
const QString rootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
// Deep enough for any window of ours; a cycle in a broken tree ends here.
constexpr int maxDepth = 40;

QStringList environmentOf(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/environ").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QChar(0), Qt::SkipEmptyParts);
}

} // namespace

const Accessible *Accessible::find(const std::function<bool(const Accessible &)> &match) const
{
    if (match(*this))
        return this;
    for (const Accessible &child : children)
        if (const Accessible *found = child.find(match))
            return found;
    return nullptr;
}

const Accessible *Accessible::find(const QString &wantedRole, const QString &wantedName) const
{
    return find([&](const Accessible &object) { return object.role == wantedRole && object.name == wantedName; });
}

QStringList Accessible::names() const
{
    QStringList all;
    if (!name.isEmpty())
        all << role + QStringLiteral(" \"") + name + u'"';
    for (const Accessible &child : children)
        all << child.names();
    return all;
}

AccessibilityBus::AccessibilityBus(QString display) : m_display(std::move(display)) {}

AccessibilityBus::~AccessibilityBus()
{
    if (!m_connectionName.isEmpty())
        QDBusConnection::disconnectFromBus(m_connectionName);
    stopProcess(m_launcher);
    if (m_address.isEmpty())
        return;
    // The launcher ends its bus; the registry, which the bus started, ends once its bus is
    // gone. Both are found by the bus's socket, in their arguments or their environment.
    const QString socket = m_address.section(u',', 0, 0);
    const auto left = [&] {
        std::vector<DriveCore::ProcessHandle> found;
        for (const pid_t pid : DriveCore::ProcessListing::all()) {
            const bool ours = DriveCore::ProcessListing::arguments(pid).join(u' ').contains(socket.section(u'=', 1))
                || environmentOf(pid).contains(QStringLiteral("DBUS_STARTER_ADDRESS=") + m_address);
            if (ours && !DriveCore::ProcessListing::hasEnded(pid))
                if (std::optional<DriveCore::ProcessHandle> handle = DriveCore::ProcessHandle::open(pid))
                    found.push_back(std::move(*handle));
        }
        return found;
    };
    spinUntil(
        [&] {
            if (left().empty())
                return true;
            // Every look reads the whole process table.
            spinUntil([] { return false; }, 50ms);
            return false;
        },
        10s);
    stopProcess(left());
}

bool AccessibilityBus::start()
{
    QDBusConnection session = QDBusConnection::sessionBus();
    const QString busName = QStringLiteral("org.a11y.Bus");
    if (session.interface()->isServiceRegistered(busName).value()) {
        m_output = "another accessibility bus is on the session bus already";
        return false;
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    // Its settings stay in memory rather than in a dconf database of the test's home.
    environment.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
    m_launcher.setProcessEnvironment(environment);
    m_launcher.setProcessChannelMode(QProcess::MergedChannels);
    // Switched on, as a desktop does when assistive technology is in use.
    m_launcher.start(QStringLiteral("/usr/libexec/at-spi-bus-launcher"),
                     {QStringLiteral("--launch-immediately"), QStringLiteral("--a11y=1")});
    if (!m_launcher.waitForStarted(10000))
        return false;
    if (!spinUntil([&] { return session.interface()->isServiceRegistered(busName).value(); }, 10s))
        return false;
    const QDBusMessage reply = session.call(
        QDBusMessage::createMethodCall(busName, QStringLiteral("/org/a11y/bus"), busName, QStringLiteral("GetAddress")),
        QDBus::Block, 10000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    m_address = reply.arguments().first().toString();
    m_connectionName = QStringLiteral("a11y-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    return QDBusConnection::connectToBus(m_address, m_connectionName).isConnected();
}

QString AccessibilityBus::output()
{
    m_output += m_launcher.readAll();
    return QString::fromUtf8(m_output);
}

std::optional<QDBusMessage> AccessibilityBus::call(const QString &service, const QString &path,
                                                   const QString &interface, const QString &method,
                                                   const QVariantList &arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    // Answered by the application's main thread, which may itself be waiting for something
    // this test serves on the session bus: the test's events go on meanwhile.
    const QDBusPendingCall pending = QDBusConnection(m_connectionName).asyncCall(message, 10000);
    spinUntil([&] { return pending.isFinished(); }, 15s);
    if (!pending.isFinished() || pending.isError() || pending.reply().type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    return pending.reply();
}

std::vector<std::pair<QString, QString>> AccessibilityBus::children(const QString &service, const QString &path)
{
    std::vector<std::pair<QString, QString>> found;
    const std::optional<QDBusMessage> reply = call(service, path, accessibleInterface, QStringLiteral("GetChildren"));
    if (!reply || reply->arguments().isEmpty())
        return found;
    const QDBusArgument argument = reply->arguments().first().value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        QString childService;
        QDBusObjectPath childPath;
        argument.beginStructure();
        argument >> childService >> childPath;
        argument.endStructure();
        found.emplace_back(childService, childPath.path());
    }
    argument.endArray();
    return found;
}

std::optional<Accessible> AccessibilityBus::read(const QString &service, const QString &path, int depth)
{
    Accessible object{.service = service, .path = path};
    const std::optional<QDBusMessage> state = call(service, path, accessibleInterface, QStringLiteral("GetState"));
    if (!state || state->arguments().isEmpty())
        return std::nullopt;
    QList<uint> words;
    const QVariant value = state->arguments().first();
    if (value.canConvert<QDBusArgument>())
        value.value<QDBusArgument>() >> words;
    else
        words = value.value<QList<uint>>();
    for (qsizetype i = 0; i < words.size() && i < 2; ++i)
        object.states |= quint64(words[i]) << (32 * i);
    if (!object.has(Accessible::showing))
        return object;

    const std::optional<QDBusMessage> role = call(service, path, accessibleInterface, QStringLiteral("GetRoleName"));
    const std::optional<QDBusMessage> name = call(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                  QStringLiteral("Get"), {accessibleInterface, QStringLiteral("Name")});
    if (!role || !name || role->arguments().isEmpty() || name->arguments().isEmpty())
        return std::nullopt;
    object.role = role->arguments().first().toString();
    object.name = name->arguments().first().value<QDBusVariant>().variant().toString();
    if (depth >= maxDepth)
        return object;
    for (const auto &[childService, childPath] : children(service, path)) {
        std::optional<Accessible> child = read(childService, childPath, depth + 1);
        if (child && child->has(Accessible::showing))
            object.children.push_back(std::move(*child));
    }
    return object;
}

std::optional<Accessible> AccessibilityBus::window(qint64 pid, const QString &name)
{
    if (m_connectionName.isEmpty())
        return std::nullopt;
    QDBusConnectionInterface *bus = QDBusConnection(m_connectionName).interface();
    for (const auto &[application, applicationPath] : children(QStringLiteral("org.a11y.atspi.Registry"), rootPath)) {
        if (bus->servicePid(application).value() != uint(pid))
            continue;
        for (const auto &[service, path] : children(application, applicationPath)) {
            const std::optional<QDBusMessage> title =
                call(service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                     {accessibleInterface, QStringLiteral("Name")});
            if (!title || title->arguments().isEmpty()
                || title->arguments().first().value<QDBusVariant>().variant().toString() != name)
                continue;
            std::optional<Accessible> found = read(service, path, 0);
            if (found && found->has(Accessible::showing))
                return found;
        }
    }
    return std::nullopt;
}

QRect AccessibilityBus::extents(const Accessible &object)
{
    // Coordinates on the screen (ATSPI_COORD_TYPE_SCREEN).
    const std::optional<QDBusMessage> reply =
        call(object.service, object.path, QStringLiteral("org.a11y.atspi.Component"), QStringLiteral("GetExtents"),
             {QVariant::fromValue(uint(0))});
    if (!reply || reply->arguments().isEmpty())
        return {};
    int x = 0, y = 0, width = 0, height = 0;
    const QDBusArgument argument = reply->arguments().first().value<QDBusArgument>();
    argument.beginStructure();
    argument >> x >> y >> width >> height;
    argument.endStructure();
    return QRect(x, y, width, height);
}

QString AccessibilityBus::text(const Accessible &object)
{
    const std::optional<QDBusMessage> reply =
        call(object.service, object.path, QStringLiteral("org.a11y.atspi.Text"), QStringLiteral("GetText"), {0, -1});
    return reply && !reply->arguments().isEmpty() ? reply->arguments().first().toString() : QString();
}

} // namespace TestSupport
