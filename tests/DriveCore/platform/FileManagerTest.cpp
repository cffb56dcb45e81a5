// "Show in File Manager" on Linux: the file manager's ShowItems over a private bus, answered by a
// stand-in that notes what it was asked.
#include "DriveCore/platform/FileManager.h"

#include "support/BusMock.h"
#include "support/FileManagerStandIn.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace DriveCore;

TEST(FileManager, ShowItemsSendsEncodedFileURIsInOrder)
{
    TestSupport::BusMock bus;
    ASSERT_TRUE(bus.start()) << bus.output().toStdString();
    TestSupport::FileManagerStandIn fileManager(bus.address());
    ASSERT_TRUE(fileManager.start());

    FileManager::showItems({QUrl::fromLocalFile(QStringLiteral("/home/ada/Mounts/My Drive/Café/a b.txt")),
                            QUrl::fromLocalFile(QStringLiteral("/home/ada/Mounts/My Drive/100%.pdf"))},
                           bus.connection());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !fileManager.calls().isEmpty(); }));
    EXPECT_EQ(fileManager.calls().front().uris,
              (QStringList{QStringLiteral("file:///home/ada/Mounts/My%20Drive/Caf%C3%A9/a%20b.txt"),
                           QStringLiteral("file:///home/ada/Mounts/My%20Drive/100%25.pdf")}));
    EXPECT_EQ(fileManager.calls().front().startupId, QString());

    // Nothing at all is sent for no items.
    FileManager::showItems({}, bus.connection());
    FileManager::showItems({QUrl::fromLocalFile(QStringLiteral("/tmp/x"))}, bus.connection());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return fileManager.calls().size() == 2; }));
    EXPECT_EQ(fileManager.calls().back().uris, QStringList{QStringLiteral("file:///tmp/x")});
}

TEST(FileManager, NoFileManagerOnTheBusIsLoggedAndLeftToTheCaller)
{
    TestSupport::LogCapture logs;
    TestSupport::BusMock bus;
    ASSERT_TRUE(bus.start()) << bus.output().toStdString();
    int unanswered = 0;
    FileManager::showItems({QUrl::fromLocalFile(QStringLiteral("/tmp/x"))}, bus.connection(), [&] { ++unanswered; });
    EXPECT_TRUE(TestSupport::spinUntil([&] {
        const QStringList lines = logs.messages(QStringLiteral("app"));
        return !lines.isEmpty() && lines.front().startsWith(QStringLiteral("The file manager didn't show the items: "));
    }));
    EXPECT_TRUE(TestSupport::spinUntil([&] { return unanswered == 1; }));
}
