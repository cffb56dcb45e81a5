#include "DriveCore/engine/MountUploads.h"

#include <gtest/gtest.h>

#include <vector>

using namespace DriveCore;

namespace {

TEST(MountUploads, PlainRemoteDropsOnlyTheNamesSuffix)
{
    const std::vector<std::pair<QString, QString>> cases = {
        {QStringLiteral("drivecrypt{ab12}:Drive"), QStringLiteral("drivecrypt:Drive")},
        {QStringLiteral("drivecrypt{ab12:Drive"), QStringLiteral("drivecrypt:Drive")},
        {QStringLiteral("drivecrypt:Drive/{x}:y"), QStringLiteral("drivecrypt:Drive/{x}:y")},
        {QStringLiteral("folder{with}brace"), QStringLiteral("folder{with}brace")},
        {QStringLiteral("drivecrypt:"), QStringLiteral("drivecrypt:")},
        {QString(), QString()},
    };
    for (const auto &[name, plain] : cases)
        EXPECT_EQ(MountUploads::plainRemote(name), plain) << name.toStdString();
}

TEST(MountUploads, OnlyGlobalUploadsIntoTheMountedDriveCount)
{
    struct Case {
        std::optional<QString> group;
        std::optional<QString> dstFs;
        bool intoDrive;
    };
    const QString global = QStringLiteral("global_stats");
    const std::vector<Case> cases = {
        {global, QStringLiteral("drivecrypt:Drive"), true},
        {global, QStringLiteral("drivecrypt{ab12}:Drive"), true},
        {QStringLiteral("job/7"), QStringLiteral("drivecrypt:Drive"), false},
        {std::nullopt, QStringLiteral("drivecrypt:Drive"), false},
        {global, std::nullopt, false},
        {global, QStringLiteral("drivecrypt:"), false},
        {global, QStringLiteral("drivecrypt:Recently Deleted"), false},
        {global, QStringLiteral("drivecrypt:Drive/sub"), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.group.value_or(QStringLiteral("<none>")).toStdString() + " "
                     + c.dstFs.value_or(QStringLiteral("<none>")).toStdString());
        EXPECT_EQ(MountUploads::isIntoDrive(c.group, c.dstFs, QStringLiteral("drivecrypt:Drive")), c.intoDrive);
    }
}

} // namespace
