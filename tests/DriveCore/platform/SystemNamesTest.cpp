// The computer's name from hostnamed: a plain python3-dbusmock object with hostnamed's two
// name properties, on a private bus standing in for the system bus.
#include "DriveCore/platform/SystemNames.h"
#include "support/BusMock.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariantMap>

#include <gtest/gtest.h>

using namespace DriveCore;

namespace {

const QString hostnamedName = QStringLiteral("org.freedesktop.hostname1");
const QString hostnamedPath = QStringLiteral("/org/freedesktop/hostname1");

TEST(SystemNamesHostnamed, ThePrettyNameElseTheStaticOne)
{
    TestSupport::BusMock bus;
    ASSERT_TRUE(bus.start()) << bus.output().toStdString();
    EXPECT_EQ(SystemNames::hostnamedName(bus.connection()), std::nullopt) << "hostnamed not running";

    ASSERT_TRUE(bus.startObject(hostnamedName, hostnamedPath, hostnamedName)) << bus.output().toStdString();
    // Plain calls: an interface object would introspect the mock into a meta-object Qt never frees.
    const auto mock = [&](const QString &method, const QVariantList &arguments) {
        QDBusMessage call = QDBusMessage::createMethodCall(hostnamedName, hostnamedPath,
                                                           QStringLiteral("org.freedesktop.DBus.Mock"), method);
        call.setArguments(arguments);
        return bus.connection().call(call);
    };
    for (const char *property : {"PrettyHostname", "StaticHostname"}) {
        const QDBusMessage added =
            mock(QStringLiteral("AddProperty"),
                 {hostnamedName, QString::fromLatin1(property), QVariant::fromValue(QDBusVariant(QString()))});
        ASSERT_NE(added.type(), QDBusMessage::ErrorMessage) << added.errorMessage().toStdString();
    }

    struct Row {
        QString pretty;
        QString hostname;
        std::optional<QString> expected;
    };
    for (const Row &row : std::vector<Row>{
             {.pretty = QStringLiteral("Anna\u2019s Laptop"),
              .hostname = QStringLiteral("annas-laptop"),
              .expected = QStringLiteral("Anna\u2019s Laptop")},
             {.pretty = QStringLiteral("  Studio \n"),
              .hostname = QStringLiteral("studio"),
              .expected = QStringLiteral("Studio")},
             {.pretty = QString(),
              .hostname = QStringLiteral("annas-laptop"),
              .expected = QStringLiteral("annas-laptop")},
             {.pretty = QStringLiteral(" "), .hostname = QString(), .expected = std::nullopt},
         }) {
        const QDBusMessage updated = mock(QStringLiteral("UpdateProperties"),
                                          {hostnamedName,
                                           QVariantMap{{QStringLiteral("PrettyHostname"), row.pretty},
                                                       {QStringLiteral("StaticHostname"), row.hostname}}});
        ASSERT_NE(updated.type(), QDBusMessage::ErrorMessage) << updated.errorMessage().toStdString();
        EXPECT_EQ(SystemNames::hostnamedName(bus.connection()), row.expected) << row.pretty.toStdString();
    }
}

} // namespace
