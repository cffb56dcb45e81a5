// One whole setup of a new drive for real: the engine program (Debian's rclone) against an S3
// server on loopback, the keys in a real keyring (runs under tests/support/keyring-session),
// and a recording stand-in for the app model.
#include "DriveCore/keys/SetupState.h"

#include "DriveCore/keys/OrganisePending.h"
#include "DriveCore/keys/RecoveryKit.h"
#include "DriveCore/platform/UserDefaults.h"
#include "support/S3Server.h"
#include "support/TestSupport.h"

#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace DriveCore;
using TestSupport::await;

namespace {

TEST(SetupStateFinish, NewDriveOverTheRealEngineStorageAndKeyring)
{
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) << "run under keyring-session";
    const QString rclone = QStandardPaths::findExecutable(QStringLiteral("rclone"));
    ASSERT_FALSE(rclone.isEmpty());
    TestSupport::S3Server server;
    ASSERT_TRUE(server.start()) << server.output().toStdString();
    const QTemporaryDir folder;
    const auto defaults = std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("defaults.json")));
    const auto store = std::make_shared<KeychainSecretStore>(QStringLiteral("com.corvane.drive.setuptest"));
    await(store->deleteAll());

    // The app model's side, as its wiring will do it, recorded.
    int starts = 0;
    QStringList organise;
    SetupDeps deps;
    deps.connection = std::make_shared<DriveConnection>(rclone);
    deps.secrets = store;
    deps.saveSettings = [&](const DriveSettings &settings) { settings.save(*defaults); };
    deps.startDrive = [&]() -> QCoro::Task<> {
        ++starts;
        co_return;
    };
    deps.enableStartAtLogin = [] { return true; };
    deps.setOrganisePending = [&](std::optional<OrganiseKind> kind) {
        organise << (kind ? kind->rawValue() : QStringLiteral("none"));
        OrganisePending::save(kind, *defaults);
    };
    deps.freeDiskBytes = [] { return qint64(80'000'000'000); };
    deps.fullUserName = QStringLiteral("Ada Lovelace");
    deps.deviceName = QStringLiteral("Ada's laptop");

    SetupState state(std::move(deps));
    state.chooseNewDrive();
    state.setUseCloudflareKey(false);
    state.setEndpoint(server.endpoint());
    state.setBucket(server.bucket());
    state.setAccessKeyID(TestSupport::S3Server::accessKeyID);
    state.setSecretAccessKey(TestSupport::S3Server::secretAccessKey);
    await(state.next());
    ASSERT_EQ(state.step(), SetupStep::passphraseStep(false))
        << state.error().value_or(SetupMessage{}).text.toStdString();
    state.generate();
    state.setAcknowledged(true);
    const QString passphrase = state.passphrase();
    await(state.next());
    ASSERT_EQ(state.step(), SetupStep{SetupStep::turnOnDrive})
        << state.error().value_or(SetupMessage{}).text.toStdString();
    await(state.next());
    state.setDriveName(QStringLiteral("Ada's drive"));
    await(state.next());
    ASSERT_EQ(state.step().kind, SetupStep::recoveryKit) << state.error().value_or(SetupMessage{}).text.toStdString();

    const auto keys = await(store->load());
    ASSERT_TRUE(keys);
    EXPECT_EQ(keys->first, server.secrets());
    EXPECT_EQ(keys->second, passphrase);
    const std::optional<DriveSettings> settings = DriveSettings::load(*defaults);
    ASSERT_TRUE(settings);
    EXPECT_EQ(
        *settings,
        (DriveSettings{QStringLiteral("Ada's drive"), 30, state.deviceID(), QStringLiteral("Ada's laptop"), true}));
    EXPECT_EQ(organise, (QStringList{"newDrive", "none"}));
    EXPECT_EQ(OrganisePending::load(*defaults), std::nullopt);
    EXPECT_EQ(starts, 1);

    // The check object is in the bucket, encrypted, and answers for this passphrase only.
    EXPECT_EQ(server.objectNames().size(), 1);
    DriveConnection connection(rclone);
    EXPECT_EQ(await(connection.checkPassphrase(passphrase, server.secrets())), PassphraseCheck::correct);
    EXPECT_EQ(await(connection.checkPassphrase(passphrase + u'x', server.secrets())), PassphraseCheck::wrong);

    EXPECT_EQ(RecoveryKit::decode(state.step().code, passphrase),
              RecoveryKitPayload::make(server.secrets(), QStringLiteral("Ada's drive")));

    await(store->deleteAll());
}

} // namespace
