#pragma once

#include "DriveCore/platform/Keychain.h"

#include <QMap>
#include <QPair>
#include <QStringList>

#include <mutex>

namespace TestSupport {

// A keychain in memory that logs every call ("update drive") and can fail chosen calls.
class InMemoryKeychain final : public DriveCore::Keychain {
public:
    enum class Call { copy, update, add, remove };

    Status copy(const QString &service, const QString &account, QByteArray &data) override;
    Status update(const QString &service, const QString &account, const QByteArray &data) override;
    Status add(const QString &service, const QString &account, const QByteArray &data) override;
    Status remove(const QString &service, const QString &account) override;

    // Items of one service by account.
    QMap<QString, QByteArray> items(const QString &service) const;
    void put(const QString &service, const QString &account, const QByteArray &data);
    // From now on, `call` on `account` (of any service) answers `status` and changes nothing.
    void fail(Call call, const QString &account, Status status);
    // The calls so far, as "<call> <account>".
    QStringList calls() const;

private:
    bool failing(Call call, const QString &account, Status &status);

    mutable std::mutex m_mutex;
    QMap<QPair<QString, QString>, QByteArray> m_items;
    QMap<QPair<Call, QString>, Status> m_failures;
    QStringList m_calls;
};

} // namespace TestSupport
