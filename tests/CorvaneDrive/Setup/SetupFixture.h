#pragma once

#include "DriveCore/keys/SetupState.h"
#include "DriveCore/support/Tasks.h"
#include "support/InMemoryKeychain.h"
#include "support/ManualSleeps.h"

#include <QList>
#include <QPointer>

#include <memory>
#include <utility>

namespace SetupFixture {

using TestSupport::ManualSleeps;

// A storage that answers as told: at once, or while `hold` is set only once released.
class FakeConnection final : public DriveCore::SetupConnecting {
public:
    std::optional<DriveCore::ConnectionError> storage;
    DriveCore::PassphraseCheck check = DriveCore::PassphraseCheck::newDrive;
    bool hold = false;

    void release()
    {
        hold = false;
        m_released.fire();
    }

    QCoro::Task<std::optional<DriveCore::ConnectionError>> testStorage(DriveCore::StorageSecrets,
                                                                       DriveCore::CancelToken) override
    {
        if (hold)
            co_await qCoro(&m_released, &DriveCore::detail::Waker::fired);
        co_return storage;
    }
    QCoro::Task<DriveCore::PassphraseCheck> checkPassphrase(QString, DriveCore::StorageSecrets,
                                                            DriveCore::CancelToken) override
    {
        co_return check;
    }
    QCoro::Task<> prepareNewDrive(QString, DriveCore::StorageSecrets, DriveCore::CancelToken) override { co_return; }
    QCoro::Task<qint64> migrateRootIntoDrive(QString, DriveCore::StorageSecrets, DriveCore::CancelToken) override
    {
        co_return 0;
    }

private:
    DriveCore::detail::Waker m_released;
};

// What setup needs of the app, with the fake storage, a keychain in memory and the switch on.
inline DriveCore::SetupDeps deps(std::shared_ptr<FakeConnection> connection, qint64 freeBytes = 120'000'000'000)
{
    DriveCore::SetupDeps d;
    d.connection = std::move(connection);
    d.secrets = std::make_shared<DriveCore::KeychainSecretStore>(QStringLiteral("com.corvane.drive.test"),
                                                                 std::make_shared<TestSupport::InMemoryKeychain>());
    d.saveSettings = [](const DriveCore::DriveSettings &) {};
    d.startDrive = []() -> QCoro::Task<> { co_return; };
    d.enableStartAtLogin = [] { return true; };
    d.setOrganisePending = [](std::optional<DriveCore::OrganiseKind>) {};
    d.freeDiskBytes = [freeBytes] { return freeBytes; };
    d.deviceName = QStringLiteral("Ada's laptop");
    return d;
}

inline void fillKeys(DriveCore::SetupState &state)
{
    state.setUseCloudflareKey(false);
    state.setEndpoint(QStringLiteral(" http://127.0.0.1:9000 "));
    state.setBucket(QStringLiteral("photos"));
    state.setAccessKeyID(QStringLiteral("AKID"));
    state.setSecretAccessKey(QStringLiteral("SECRET\n"));
}

} // namespace SetupFixture
