#include "DriveCore/shares/ShareWorkerConfig.h"

#include <gtest/gtest.h>

using namespace DriveCore;

namespace {

TEST(ShareWorkerConfigTest, OnlyAnOlderBuildsOtherVersionIsOutdated)
{
    const auto record = [](std::optional<qint64> build) {
        return ShareWorkerConfig{
            QUrl(QStringLiteral("https://x.alice.workers.dev")), QStringLiteral("aaaa"), build, {}};
    };
    struct Case {
        std::optional<qint64> recordBuild;
        QString version;
        qint64 build;
        bool outdated;
    };
    const std::vector<Case> cases{
        {120, "aaaa", 500, false}, // same modules, whatever the builds
        {120, "bbbb", 121, true},        {120, "bbbb", 120, false},
        {120, "bbbb", 119, false}, // a newer build's link page stays
        {std::nullopt, "bbbb", 1, true}, {std::nullopt, "bbbb", 0, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(record(c.recordBuild).isOutdated(c.version, c.build), c.outdated)
            << c.recordBuild.value_or(-1) << " " << c.version.toStdString() << " " << c.build;
}

} // namespace
