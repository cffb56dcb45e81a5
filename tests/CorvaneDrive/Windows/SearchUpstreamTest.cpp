// Search over a real drive: the model launched on Debian's rclone (mounting over FUSE) and an S3
// server on loopback, keys in a private keyring; files written through the mount are found by
// name in the search window.
#include "CorvaneDrive/Windows/SearchWindow.h"
#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/engine/DriveProfile.h"
#include "DriveCore/engine/RcloneCommand.h"
#include "DriveCore/keys/DriveConnection.h"
#include "DriveCore/keys/OrganisePending.h"
#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/model/AppModel.h"
#include "DriveCore/model/PathMonitor.h"
#include "DriveCore/mount/LeftoverDrive.h"
#include "DriveCore/platform/RealLauncher.h"
#include "DriveCore/platform/UserDefaults.h"

#include "support/FinishedSetup.h"
#include "support/FuseMount.h"
#include "support/S3Server.h"
#include "support/ScopedEnvironment.h"
#include "support/Screenshots.h"
#include "support/StopProcess.h"
#include "support/TestSupport.h"
#include "support/UpstreamEngine.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

using namespace CorvaneDrive;
using namespace DriveCore;
using namespace std::chrono_literals;
using TestSupport::spinUntil;

namespace {

template<typename T>
bool finish(QCoro::Task<T> task, std::chrono::milliseconds limit)
{
    bool done = false;
    [](QCoro::Task<T> task, bool &done) -> QCoro::Task<> {
        co_await task;
        done = true;
    }(std::move(task), done);
    return spinUntil([&] { return done; }, limit);
}

TEST(SearchUpstream, FilesWrittenThroughTheMountAreFoundByName)
{
    QTemporaryDir home;
    TestSupport::ScopedEnvironment env;
    env.set("HOME", home.path().toUtf8());
    env.set("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    env.set("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    env.set("XDG_STATE_HOME", home.filePath(QStringLiteral("state")).toUtf8());
    TestSupport::S3Server server;
    ASSERT_TRUE(server.start()) << server.output().toStdString();
    const QString program = TestSupport::UpstreamEngine::program();
    const DriveSettings settings{.driveName = QStringLiteral("My Drive"),
                                 .cacheGB = 5,
                                 .deviceID = QUuid::createUuid(),
                                 .deviceName = QStringLiteral("Laptop")};
    const QString passphrase = QStringLiteral("correct horse battery staple");
    auto secrets = std::make_shared<KeychainSecretStore>(DriveProfile::keychainService(std::nullopt));
    TestSupport::storeNewDrive(settings, server.secrets(), passphrase);
    auto defaults = UserDefaults::standard();

    // The production listing: upstream has no upload queue ("vfs/queue"), and search works without it.
    const AppModelHooks hooks = AppModelHooks::live(program);
    auto model = std::make_unique<AppModel>(
        std::make_shared<RcloneSupervisor>(RcloneCommand(program), std::make_shared<RealLauncher>(),
                                           SupervisorHooks::live()),
        secrets, defaults, std::make_shared<PathMonitor>(), hooks, true, std::make_shared<DriveConnection>(program));
    const QString mountFolder = DriveLayout::mountPath(settings.driveName);
    const QString cacheDir = DriveLayout::cacheDir(settings.deviceID);
    const auto cleanUp = qScopeGuard([&] {
        if (model)
            finish(model->shutdown(), 60s);
        model.reset();
        TestSupport::stopLeftoverEngines(cacheDir);
        TestSupport::FuseMount(mountFolder).unmount();
    });
    ASSERT_TRUE(finish(model->launch(), 90s));
    ASSERT_EQ(model->phase().kind, AppModelPhase::running) << model->statusLine().toStdString();
    ASSERT_TRUE(spinUntil([&] { return TestSupport::UpstreamEngine::isMounted(mountFolder); }, 30s));

    ASSERT_TRUE(QDir(mountFolder).mkpath(QStringLiteral("Trips/Lisbon")));
    for (const QString &name : {QStringLiteral("Trips/Lisbon/tram ticket.pdf"),
                                QStringLiteral("Trips/Lisbon/Pastéis.jpg"), QStringLiteral("notes.txt")}) {
        QFile file(mountFolder + u'/' + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write("contents of " + name.toUtf8()), qint64(12 + name.toUtf8().size()));
    }

    // Opened without a listing, the window loads one; Refresh loads again until the files are in.
    QPointer<SearchWindow> window = new SearchWindow(*model);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.data()));
    QTest::keyClicks(window->searchField(), QStringLiteral("pasteis lisbon"));
    QTableView *table = window->table();
    ASSERT_TRUE(spinUntil(
        [&] {
            if (table->model()->rowCount() == 1)
                return true;
            if (window->refreshButton()->isVisible() && window->refreshButton()->isEnabled())
                QTest::mouseClick(window->refreshButton(), Qt::LeftButton);
            spinUntil([] { return false; }, 500ms);
            return false;
        },
        90s))
        << window->errorLabel()->text().toStdString();
    EXPECT_EQ(table->model()->index(0, 0).data().toString(), QStringLiteral("Pastéis.jpg"));
    EXPECT_EQ(table->model()->index(0, 1).data().toString(), QStringLiteral("Trips/Lisbon"));
    TestSupport::saveScreenshot(*window, QStringLiteral("search-real-drive"));

    QTest::keyClick(window->searchField(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(window->searchField(), Qt::Key_Backspace);
    QTest::keyClicks(window->searchField(), QStringLiteral("TRAM"));
    ASSERT_TRUE(spinUntil([&] {
        return table->model()->rowCount() == 1
            && table->model()->index(0, 0).data(Qt::ToolTipRole).toString()
            == QStringLiteral("Trips/Lisbon/tram ticket.pdf");
    }));
    window->close();
}

} // namespace
