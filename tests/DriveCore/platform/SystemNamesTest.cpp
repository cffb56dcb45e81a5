// The computer's name from hostnamed: a plain python3-dbusmock object with hostnamed's two
// name properties, on a private bus standing in for the system bus.
#include "DriveCore/platform/SystemNames.h"
#include "support/BusMock.h"

#include <QDBusInterface>
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
    QDBusInterface mock(hostnamedName, hostnamedPath, QStringLiteral("org.freedesktop.DBus.Mock"), bus.connection());
    for (const char *property : {"PrettyHostname", "StaticHostname"}) {
        const QDBusMessage added =
            mock.call(QStringLiteral("AddProperty"), hostnamedName, QString::fromLatin1(property),
                      QVariant::fromValue(QDBusVariant(QString())));
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
        const QDBusMessage updated = mock.call(QStringLiteral("UpdateProperties"), hostnamedName,
                                               QVariantMap{{QStringLiteral("PrettyHostname"), row.pretty},
                                                           {QStringLiteral("StaticHostname"), row.hostname}});
        ASSERT_NE(updated.type(), QDBusMessage::ErrorMessage) << updated.errorMessage().toStdString();
        EXPECT_EQ(SystemNames::hostnamedName(bus.connection()), row.expected) << row.pretty.toStdString();
    }
}

} // namespace
