#include "DriveCore/mount/ChangeSync.h"

#include <gtest/gtest.h>

using namespace DriveCore;

TEST(ChangeSync, ParentOfADriveRelativePath)
{
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("a/b/c.txt"), QStringLiteral("a/b")}, {QStringLiteral("/a/b/"), QStringLiteral("a")},
        {QStringLiteral("a//b"), QStringLiteral("a")},         {QStringLiteral("c.txt"), QString()},
        {QStringLiteral("/"), QString()},                      {QString(), QString()},
    };
    for (const auto &[path, parent] : cases)
        EXPECT_EQ(ChangeSync::parent(path), parent) << path.toStdString();
}
