#pragma once

#include "DriveCore/drive/RcloneSupervisor.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/model/AppModelHooks.h"
#include "DriveCore/model/PathMonitor.h"

namespace TestSupport {

// What the app model needs besides its hooks to run on an already started fake engine: a
// supervisor that is running with the engine's client once started, fixed keys, a network that
// never changes and a change sync that does nothing.
class RunningSupervisor : public DriveCore::DriveSupervising {
public:
    explicit RunningSupervisor(DriveCore::RCClient rc) : m_rc(std::move(rc)) {}
    DriveCore::SupervisorState state() const override { return m_state; }
    std::optional<DriveCore::RCClient> rc() const override
    {
        return m_state.kind == DriveCore::SupervisorState::running ? std::optional(m_rc) : std::nullopt;
    }
    QCoro::Task<> start(DriveCore::DriveSettings, DriveCore::StorageSecrets, QString, bool, DriveCore::DriveEngine) override
    {
        m_state = DriveCore::SupervisorState{DriveCore::SupervisorState::running, {}};
        co_return;
    }
    QCoro::Task<> stop(bool, DriveCore::CancelToken) override
    {
        m_state = {};
        co_return;
    }
    QCoro::Task<> checkHealthNow() override { co_return; }
    bool fskitEjected() const override { return false; }
    bool fskitFailed() const override { return false; }
    QCoro::Task<> reconnectFSKit() override { co_return; }

private:
    DriveCore::RCClient m_rc;
    DriveCore::SupervisorState m_state;
};

class FixedKeys : public DriveCore::SecretStoring {
public:
    QCoro::Task<> save(DriveCore::StorageSecrets, QString) override { co_return; }
    QCoro::Task<std::optional<std::pair<DriveCore::StorageSecrets, QString>>> load() override
    {
        co_return std::pair(DriveCore::StorageSecrets{.endpoint = "http://127.0.0.1:9", .bucket = "b", .accessKeyID = "k",
                                                      .secretAccessKey = "s"},
                            QStringLiteral("passphrase"));
    }
    QCoro::Task<> deleteAll() override { co_return; }
    QCoro::Task<> saveCloudflareKey(std::optional<QString>) override { co_return; }
    QCoro::Task<std::optional<QString>> loadCloudflareKey() override { co_return std::nullopt; }
};

class QuietNetwork : public DriveCore::NetworkMonitoring {
public:
    void start(std::function<void(bool)>) override {}
    void stop() override {}
};

class NoChangeSync : public DriveCore::ChangeSyncing {
public:
    void start() override {}
    void stop() override {}
    QCoro::Task<> stopAndFlush(DriveCore::CancelToken) override { co_return; }
    void noteLocalChange(const QStringList &) override {}
    void onConflictSaved(std::function<void(const QString &)>) override {}
    void onRefreshed(std::function<void()>) override {}
};

} // namespace TestSupport
