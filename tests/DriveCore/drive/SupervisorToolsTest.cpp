#include "DriveCore/drive/SupervisorTools.h"
#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/platform/FreePort.h"
#include "support/QtPrinters.h"
#include "support/ScopedEnvironment.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace DriveCore;
using TestSupport::await;
using TestSupport::failureOf;

namespace {

// Notes the unmounts it is asked for; launches nothing.
class RecordingLauncher : public ProcessLaunching {
public:
    std::shared_ptr<LaunchedProcess> launch(const QString &, const QStringList &, const Environment &,
                                            ExitCallback) override
    {
        throw ProcessRunner::LaunchError(QStringLiteral("rclone"), QStringLiteral("not in this test"));
    }
    QCoro::Task<> unmount(QString path, bool force) override
    {
        unmounts << (force ? QStringLiteral("force ") : QString()) + path;
        co_return;
    }

    QStringList unmounts;
};

} // namespace

TEST(FreePort, FindsAPortThatCanBeBound)
{
    const int port = FreePort::find();
    EXPECT_GE(port, 1);
    EXPECT_LE(port, 65535);
    QTcpServer server;
    EXPECT_TRUE(server.listen(QHostAddress::LocalHost, quint16(port)));
}

TEST(SupervisorTools, RandomPasswordsAreLongLowerCaseHexAndNew)
{
    const QString first = SupervisorTools::randomPassword();
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    EXPECT_TRUE(hex.match(first).hasMatch()) << first.toStdString();
    EXPECT_NE(SupervisorTools::randomPassword(), first);
}

TEST(SupervisorTools, LastNonEmptyLineOfTheLog)
{
    QTemporaryDir folder;
    const auto lastLine = [&](const QByteArray &contents) {
        const QString path = folder.filePath(QStringLiteral("rclone.log"));
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(contents);
        file.close();
        return SupervisorTools::lastNonEmptyLine(path);
    };
    struct Case {
        QByteArray contents;
        std::optional<QString> line;
    };
    const QByteArray cutCharacter = QByteArray(34'463, 'a') + "\xc3\xa9" + QByteArray(65'535, 'z');
    const std::vector<Case> cases{
        {"x\n   \n\n", "x"},
        {"first\r\nsecond\r\n", "second"},
        {"  \tpadded line \t \n", "padded line"},
        {"older\xe2\x80\xa8newer\xe2\x80\xa9\xc2\x85\v\f\r", "newer"},
        {"a\nbad \xff byte", "bad \ufffd byte"},
        {"", std::nullopt},
        {"\n\n \t \r\n", std::nullopt},
        // A 100,000-byte log is read from byte 34,464 on.
        {QByteArray(34'464, 'a') + QByteArray(65'536, 'b'), QString(65'536, u'b')},
        {QByteArray(99'970, 'c')
             + "\nolder\xe2\x80\xa8"
               "last entry \xe2\x80\xa8 \t",
         "last entry"},
        // The cut falls inside a character.
        {cutCharacter, u'\ufffd' + QString(65'535, u'z')},
    };
    for (const Case &c : cases)
        EXPECT_EQ(lastLine(c.contents), c.line) << c.contents.left(40).toStdString();
    EXPECT_EQ(SupervisorTools::lastNonEmptyLine(folder.filePath(QStringLiteral("missing.log"))), std::nullopt);
}

TEST(SupervisorTools, UnmountsOnlyThisDrivesOwnFolders)
{
    QTemporaryDir home;
    TestSupport::ScopedEnvironment env;
    env.set("HOME", home.path().toUtf8());
    env.set("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    DriveSettings settings{.driveName = QStringLiteral("Drive"), .deviceID = QUuid::createUuid()};
    const QString mountPath = home.filePath(QStringLiteral("Mounts/Drive"));
    const QString backing = DriveLayout::backingPath(settings.deviceID);
    EXPECT_EQ(SupervisorTools::allowedMountPaths(settings), (QStringList{mountPath, backing}));
    EXPECT_TRUE(SupervisorTools::allowedMountPaths(std::nullopt).isEmpty());

    auto launcher = std::make_shared<RecordingLauncher>();
    await(SupervisorTools::forceUnmount(launcher, settings, mountPath + QStringLiteral("/")));
    await(SupervisorTools::forceUnmount(launcher, settings, backing + QStringLiteral("/./")));
    EXPECT_EQ(launcher->unmounts, (QStringList{"force " + mountPath, "force " + backing}));

    const QString other = home.filePath(QStringLiteral("Mounts/Other"));
    const auto refused =
        failureOf<SupervisorTools::UnmountRefused>(SupervisorTools::forceUnmount(launcher, settings, other));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->description, "Refusing to unmount " + other + ": not this drive's mount path");
    EXPECT_TRUE(
        failureOf<SupervisorTools::UnmountRefused>(SupervisorTools::forceUnmount(launcher, std::nullopt, mountPath)));
    EXPECT_EQ(launcher->unmounts.size(), 2);

    // A name that could reach outside ~/Mounts allows the backing folder alone.
    settings.driveName = QStringLiteral("../Drive");
    EXPECT_EQ(SupervisorTools::allowedMountPaths(settings), QStringList{backing});
}

TEST(SupervisorTools, AllowedMountPathNeedsASafeName)
{
    TestSupport::ScopedEnvironment env;
    env.set("HOME", "/home/tester");
    EXPECT_EQ(SupervisorTools::allowedMountPath(QStringLiteral("My Drive \u00e9")),
              QStringLiteral("/home/tester/Mounts/My Drive \u00e9"));
    for (const std::optional<QString> &name : std::vector<std::optional<QString>>{
             std::nullopt, QString(), ".", "..", "a/b", "/", QStringLiteral("a") + QChar(u'\0') + "b"})
        EXPECT_EQ(SupervisorTools::allowedMountPath(name), std::nullopt) << name.value_or("<none>").toStdString();
}
