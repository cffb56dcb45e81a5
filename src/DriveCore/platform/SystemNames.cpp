#include "DriveCore/platform/SystemNames.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QtConcurrent>

#include <mutex>

#include <pwd.h>
#include <unistd.h>

namespace DriveCore {

namespace {

std::mutex nameLock;
bool prefetchStarted = false;
std::optional<QString> prefetched;

std::optional<QString> nonEmpty(const QString &text)
{
    const QString trimmedText = text.trimmed();
    if (trimmedText.isEmpty())
        return std::nullopt;
    return trimmedText;
}

} // namespace

std::optional<QString> SystemNames::hostnamedName(QDBusConnection systemBus)
{
    if (!systemBus.isConnected())
        return std::nullopt;
    for (const QString &property : {QStringLiteral("PrettyHostname"), QStringLiteral("StaticHostname")}) {
        // A plain call: an interface object would first introspect the service, a round trip
        // more and a meta-object that Qt keeps for ever.
        QDBusMessage get = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.hostname1"), QStringLiteral("/org/freedesktop/hostname1"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << QStringLiteral("org.freedesktop.hostname1") << property;
        const QDBusReply<QDBusVariant> reply = systemBus.call(get, QDBus::Block, 1000);
        if (!reply.isValid())
            return std::nullopt; // not running, or not answering: gethostname will do
        if (const std::optional<QString> name = nonEmpty(reply.value().variant().toString()))
            return name;
    }
    return std::nullopt;
}

std::optional<QString> SystemNames::hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return std::nullopt;
    return nonEmpty(QString::fromLocal8Bit(name));
}

void SystemNames::prefetch()
{
    {
        const std::lock_guard lock(nameLock);
        if (prefetchStarted)
            return;
        prefetchStarted = true;
    }
    // Fire and forget: the pool waits for it at exit, at most the call's time-out.
    (void)QtConcurrent::run([] {
        std::optional<QString> name = hostnamedName(QDBusConnection::systemBus());
        const std::lock_guard lock(nameLock);
        prefetched = std::move(name);
    });
}

std::optional<QString> SystemNames::computerName()
{
    {
        const std::lock_guard lock(nameLock);
        if (prefetched)
            return prefetched;
    }
    return hostName();
}

std::optional<QString> SystemNames::gecosName(const QByteArray &gecos)
{
    return nonEmpty(QString::fromUtf8(gecos.left(gecos.indexOf(',') < 0 ? gecos.size() : gecos.indexOf(','))));
}

QString SystemNames::fullUserName()
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd *found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return QString::fromLocal8Bit(qgetenv("USER"));
    if (const std::optional<QString> name = gecosName(QByteArray(found->pw_gecos ? found->pw_gecos : "")))
        return *name;
    return QString::fromLocal8Bit(found->pw_name);
}

} // namespace DriveCore
