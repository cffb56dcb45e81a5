#include "DriveCore/keys/OrganisePending.h"

#include "DriveCore/platform/UserDefaults.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace DriveCore;

namespace {

TEST(OrganisePending, SavesLoadsAndClearsTheKind)
{
    const QTemporaryDir folder;
    UserDefaults defaults(folder.filePath(QStringLiteral("defaults.json")));
    EXPECT_EQ(OrganisePending::load(defaults), std::nullopt);

    for (const OrganiseKind kind : {OrganiseKind::newDrive, OrganiseKind::existingDrive}) {
        OrganisePending::save(kind, defaults);
        EXPECT_EQ(OrganisePending::load(defaults), kind);
        // What another launch reads from the file.
        EXPECT_EQ(OrganisePending::load(UserDefaults(defaults.path())), kind);
    }
    EXPECT_EQ(defaults.string(QStringLiteral("organisePending")), QStringLiteral("existingDrive"));

    OrganisePending::save(std::nullopt, defaults);
    EXPECT_FALSE(defaults.contains(QStringLiteral("organisePending")));

    for (const UserDefaults::Value &junk : {UserDefaults::Value(QStringLiteral("NewDrive")),
                                            UserDefaults::Value(QStringLiteral("")), UserDefaults::Value(true)}) {
        defaults.set(QStringLiteral("organisePending"), junk);
        EXPECT_EQ(OrganisePending::load(defaults), std::nullopt);
    }
}

} // namespace
