#include "DriveCore/platform/Keychain.h"

#include "support/ScopedEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace DriveCore;

namespace {

// With a real Secret Service the layer runs in SecretStoreKeyringTest.
TEST(KeychainTest, NoSessionBusMeansNoKeychain)
{
    QTemporaryDir dir;
    TestSupport::ScopedEnvironment environment;
    environment.set("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir.filePath(QStringLiteral("no-bus")).toUtf8());
    const std::shared_ptr<Keychain> keychain = Keychain::live();
    const QString service = QStringLiteral("com.corvane.drive");
    QByteArray data;
    EXPECT_EQ(keychain->copy(service, QStringLiteral("drive"), data), Keychain::notAvailable);
    EXPECT_EQ(keychain->update(service, QStringLiteral("drive"), "x"), Keychain::notAvailable);
    EXPECT_EQ(keychain->add(service, QStringLiteral("drive"), "x"), Keychain::notAvailable);
    EXPECT_EQ(keychain->remove(service, QStringLiteral("drive")), Keychain::notAvailable);
}

TEST(KeychainTest, MessagesForKnownCodesOnly)
{
    EXPECT_EQ(Keychain::message(Keychain::duplicateItem),
              QStringLiteral("The specified item already exists in your keyring."));
    EXPECT_EQ(Keychain::message(Keychain::interactionNotAllowed), QStringLiteral("User interaction is not allowed."));
    EXPECT_EQ(Keychain::message(-1), std::nullopt);
}

} // namespace
