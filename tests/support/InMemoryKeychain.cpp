#include "support/InMemoryKeychain.h"

namespace TestSupport {

namespace {

const char *callName(InMemoryKeychain::Call call)
{
    switch (call) {
    case InMemoryKeychain::Call::copy: return "copy";
    case InMemoryKeychain::Call::update: return "update";
    case InMemoryKeychain::Call::add: return "add";
    case InMemoryKeychain::Call::remove: return "remove";
    }
    return "?";
}

} // namespace

bool InMemoryKeychain::failing(Call call, const QString &account, Status &status)
{
    m_calls << QStringLiteral("%1 %2").arg(QLatin1String(callName(call)), account);
    const auto found = m_failures.constFind({call, account});
    if (found == m_failures.constEnd())
        return false;
    status = *found;
    return true;
}

DriveCore::Keychain::Status InMemoryKeychain::copy(const QString &service, const QString &account, QByteArray &data)
{
    const std::lock_guard lock(m_mutex);
    if (Status status; failing(Call::copy, account, status))
        return status;
    const auto found = m_items.constFind({service, account});
    if (found == m_items.constEnd())
        return itemNotFound;
    data = *found;
    return success;
}

DriveCore::Keychain::Status InMemoryKeychain::update(const QString &service, const QString &account, const QByteArray &data)
{
    const std::lock_guard lock(m_mutex);
    if (Status status; failing(Call::update, account, status))
        return status;
    const auto found = m_items.find({service, account});
    if (found == m_items.end())
        return itemNotFound;
    *found = data;
    return success;
}

DriveCore::Keychain::Status InMemoryKeychain::add(const QString &service, const QString &account, const QByteArray &data)
{
    const std::lock_guard lock(m_mutex);
    if (Status status; failing(Call::add, account, status))
        return status;
    if (m_items.contains({service, account}))
        return duplicateItem;
    m_items.insert({service, account}, data);
    return success;
}

DriveCore::Keychain::Status InMemoryKeychain::remove(const QString &service, const QString &account)
{
    const std::lock_guard lock(m_mutex);
    if (Status status; failing(Call::remove, account, status))
        return status;
    return m_items.remove({service, account}) ? success : itemNotFound;
}

QMap<QString, QByteArray> InMemoryKeychain::items(const QString &service) const
{
    const std::lock_guard lock(m_mutex);
    QMap<QString, QByteArray> result;
    for (auto it = m_items.constBegin(); it != m_items.constEnd(); ++it) {
        if (it.key().first == service)
            result.insert(it.key().second, it.value());
    }
    return result;
}

void InMemoryKeychain::put(const QString &service, const QString &account, const QByteArray &data)
{
    const std::lock_guard lock(m_mutex);
    m_items.insert({service, account}, data);
}

void InMemoryKeychain::fail(Call call, const QString &account, Status status)
{
    const std::lock_guard lock(m_mutex);
    m_failures.insert({call, account}, status);
}

QStringList InMemoryKeychain::calls() const
{
    const std::lock_guard lock(m_mutex);
    return m_calls;
}

} // namespace TestSupport
