#include "DriveCore/mount/CacheRecovery.h"

#include "CacheFixture.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"

#include <QStringList>
#include <QUuid>

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

using namespace DriveCore;
using CacheFixture::metaJson;
namespace fs = std::filesystem;
using CacheFixture::contents;
using CacheFixture::Names;
using CacheFixture::tree;

namespace DriveCore::CacheRecovery {

void PrintTo(const Outcome &outcome, std::ostream *out)
{
    const auto list = [&](const char *name, const std::vector<std::string> &items) {
        *out << name << " [";
        for (const std::string &item : items)
            *out << " \"" << item << "\"";
        *out << " ] ";
    };
    list("recovered", outcome.recovered);
    list("removed", outcome.removed);
    list("kept", outcome.kept);
    *out << (outcome.stopped ? "stopped" : "not stopped");
}

} // namespace DriveCore::CacheRecovery

namespace {

// A plain folder stands in for the mounted drive: the rescue's file work is the same.
struct Rescue {
    CacheFixture::Cache cache;
    CacheFixture::Cache drive;
    CacheRecovery::IsMounted mounted = [](const QString &) { return true; };

    CacheRecovery::Outcome run(const std::set<std::string> &folders, const std::string &active = "drivecrypt",
                               const CacheRecovery::Copier &copier = CacheRecovery::fileCopier)
    {
        return CacheRecovery::recover(cache.dir(), folders, active, drive.dir(), mounted, [] { return true; }, copier);
    }
};

} // namespace

TEST(CacheRecovery, ActiveFolderIsTheOneCacheFolderWithTheDriveRoot)
{
    struct Case {
        QStringList vfsNames;
        std::optional<std::string> active;
    };
    const std::vector<Case> cases = {
        {{"drivecrypt:Drive", "drive:bucket"}, "drivecrypt"},
        {{"drivecrypt{a1}:Drive"}, "drivecrypt{a1}"},
        {{"drivecrypt:Drive", "drivecrypt{a}:Drive"}, std::nullopt},
        {{"drivecrypt:"}, std::nullopt},
        {{"drivecrypt:Drive", "drivecrypt:.corvane"}, "drivecrypt"},
        {{"drivecrypt:.corvane"}, std::nullopt},
        {{"drivecrypt", "drivecrypt:Drive"}, "drivecrypt"},
        {{"drivecrypt{a:Drive"}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CacheRecovery::activeFolder(c.vfsNames), c.active) << c.vfsNames.join(u' ').toStdString();
}

TEST(CacheRecovery, OtherNamesKeepTheExtension)
{
    struct Case {
        const char *name;
        int n;
        const char *other;
    };
    const std::vector<Case> cases = {
        {"q3.pdf", 1, "q3 (recovered).pdf"},
        {"q3.pdf", 2, "q3 (recovered 2).pdf"},
        {"archive.tar.gz", 1, "archive.tar (recovered).gz"},
        {"Makefile", 1, "Makefile (recovered)"},
        {".profile", 1, ".profile (recovered)"},
        {".env.local", 3, ".env (recovered 3).local"},
        {"trailing.", 1, "trailing. (recovered)"},
        {"Caf\u00e9 \u2713.txt", 1, "Caf\u00e9 \u2713 (recovered).txt"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CacheRecovery::recoveredName(c.name, c.n), c.other) << c.name << " " << c.n;
}

TEST(CacheRecovery, FoldersAreTheCacheFolderNamesOfBothTrees)
{
    const CacheFixture::Cache cache;
    EXPECT_TRUE(CacheRecovery::folders(cache.dir()).empty());
    for (const char *folder : {"vfs/drivecrypt", "vfs/drivecrypt{a}", "vfsMeta/drivecrypt{b}", "vfs/drive",
                               "vfsMeta/drivecrypt{", "vfsMeta/xdrivecrypt{c}", "vfsMeta/drivecrypt{d}x"})
        fs::create_directories(cache.root() / folder);
    EXPECT_EQ(CacheRecovery::folders(cache.dir()),
              (std::set<std::string>{"drivecrypt", "drivecrypt{a}", "drivecrypt{b}"}));
}

TEST(CacheRecovery, RescuesPendingFilesWithoutWritingOverAnything)
{
    Rescue rescue;
    rescue.cache.pending("drivecrypt{old}", "Reports/q3.pdf", "new q3");
    rescue.cache.pending("drivecrypt{old}", "a/b/c.txt", "nested");
    rescue.cache.clean("drivecrypt{old}", "uploaded.txt", "done");
    rescue.cache.pending("drivecrypt", "active.txt", "the engine's own");
    rescue.cache.pending("other", "x.txt", "not ours");
    rescue.drive.write("Reports/q3.pdf", "old q3");
    rescue.drive.write("Reports/q3 (recovered).pdf", "older q3");

    const CacheRecovery::Outcome outcome = rescue.run({"drivecrypt", "drivecrypt{old}", "other"});

    EXPECT_EQ(outcome,
              (CacheRecovery::Outcome{{"Reports/q3 (recovered 2).pdf", "a/b/c.txt"}, {"drivecrypt{old}"}, {}, false}));
    EXPECT_EQ(tree(rescue.drive.root()),
              (Names{"Reports", "Reports/q3 (recovered 2).pdf", "Reports/q3 (recovered).pdf", "Reports/q3.pdf", "a",
                     "a/b", "a/b/c.txt"}));
    EXPECT_EQ(contents(rescue.drive.root() / "Reports/q3.pdf"), "old q3");
    EXPECT_EQ(contents(rescue.drive.root() / "Reports/q3 (recovered).pdf"), "older q3");
    EXPECT_EQ(contents(rescue.drive.root() / "Reports/q3 (recovered 2).pdf"), "new q3");
    EXPECT_EQ(contents(rescue.drive.root() / "a/b/c.txt"), "nested");
    // The old folder is gone from both trees; the active one and foreign ones are untouched.
    EXPECT_EQ(tree(rescue.cache.root()),
              (Names{"vfs", "vfs/drivecrypt", "vfs/drivecrypt/Drive", "vfs/drivecrypt/Drive/active.txt", "vfs/other",
                     "vfs/other/Drive", "vfs/other/Drive/x.txt", "vfsMeta", "vfsMeta/drivecrypt",
                     "vfsMeta/drivecrypt/Drive", "vfsMeta/drivecrypt/Drive/active.txt", "vfsMeta/other",
                     "vfsMeta/other/Drive", "vfsMeta/other/Drive/x.txt"}));
}

TEST(CacheRecovery, FoldersAndFilesGoInNameOrder)
{
    Rescue rescue;
    for (const char *folder : {"drivecrypt{c}", "drivecrypt", "drivecrypt{b}"}) {
        for (const char *file : {"a/b", "B", "A/z"})
            rescue.cache.pending(folder, std::string(folder) + "/" + file, "x");
    }
    const CacheRecovery::Outcome outcome =
        rescue.run({"drivecrypt", "drivecrypt{b}", "drivecrypt{c}"}, "drivecrypt{z}");
    EXPECT_EQ(outcome.recovered,
              (Names{"drivecrypt/A/z", "drivecrypt/B", "drivecrypt/a/b", "drivecrypt{b}/A/z", "drivecrypt{b}/B",
                     "drivecrypt{b}/a/b", "drivecrypt{c}/A/z", "drivecrypt{c}/B", "drivecrypt{c}/a/b"}));
    EXPECT_EQ(outcome.removed, (Names{"drivecrypt", "drivecrypt{b}", "drivecrypt{c}"}));
}

TEST(CacheRecovery, KeepsAFolderWithAnythingItCannotRescue)
{
    struct Case {
        const char *name;
        std::function<void(const CacheFixture::Cache &)> make;
        Names leftInCache; // below vfsMeta/drivecrypt{old}/Drive and vfs/drivecrypt{old}/Drive
    };
    const std::vector<Case> cases = {
        {"partly cached",
         [](auto &cache) {
             cache.item("drivecrypt{old}", "part.bin", metaJson(10, {{0, 4}, {6, 4}}, true), "0123456789");
         },
         {"meta part.bin", "data part.bin"}},
        {"data of the wrong size",
         [](auto &cache) { cache.item("drivecrypt{old}", "short.bin", metaJson(10, {{0, 10}}, true), "01234"); },
         {"meta short.bin", "data short.bin"}},
        {"no data at all",
         [](auto &cache) { cache.item("drivecrypt{old}", "none.bin", metaJson(3, {{0, 3}}, true)); },
         {"meta none.bin"}},
        {"unreadable metadata",
         [](auto &cache) { cache.item("drivecrypt{old}", "bad.bin", "{\"Dirty\":true}", "abc"); },
         {"meta bad.bin", "data bad.bin"}},
        {"a pending item outside the drive folder",
         [](auto &cache) {
             cache.write("vfsMeta/drivecrypt{old}/.corvane/changes.json", metaJson(2, {{0, 2}}, true));
             cache.write("vfs/drivecrypt{old}/.corvane/changes.json", "{}");
         },
         {}},
        {"a pending item beside the drive folder",
         [](auto &cache) { cache.write("vfsMeta/drivecrypt{old}/top.txt", metaJson(0, {}, true)); },
         {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Rescue rescue;
        rescue.cache.pending("drivecrypt{old}", "good.txt", "fine");
        c.make(rescue.cache);

        const CacheRecovery::Outcome outcome = rescue.run({"drivecrypt{old}"});

        EXPECT_EQ(outcome, (CacheRecovery::Outcome{{"good.txt"}, {}, {"drivecrypt{old}"}, false}));
        EXPECT_EQ(contents(rescue.drive.root() / "good.txt"), "fine");
        EXPECT_EQ(tree(rescue.drive.root()), Names{"good.txt"});
        // The rescued file's entries are gone; what could not be rescued stays for next time.
        Names left;
        for (const auto &[tree, label] : {std::pair{"vfsMeta", "meta"}, std::pair{"vfs", "data"}}) {
            const fs::path files = rescue.cache.root() / tree / "drivecrypt{old}/Drive";
            for (const auto &entry : fs::directory_iterator(files))
                left.push_back(std::string(label) + " " + entry.path().filename().string());
        }
        std::sort(left.begin(), left.end(), [](const std::string &a, const std::string &b) { return a > b; });
        EXPECT_EQ(left, c.leftInCache);
    }
}

TEST(CacheRecovery, AFailedCopyLeavesNothingInTheDrive)
{
    struct Case {
        const char *name;
        CacheRecovery::Copier copier;
    };
    const std::vector<Case> cases = {
        {"copier fails", [](const fs::path &, const fs::path &) { throw std::runtime_error("disk full"); }},
        {"copy of the wrong size",
         [](const fs::path &, const fs::path &target) { std::ofstream(target, std::ios::binary) << "tru"; }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Rescue rescue;
        rescue.cache.pending("drivecrypt{old}", "Docs/a.txt", "truth");

        const CacheRecovery::Outcome outcome = rescue.run({"drivecrypt{old}"}, "drivecrypt", c.copier);

        EXPECT_EQ(outcome, (CacheRecovery::Outcome{{}, {}, {"drivecrypt{old}"}, false}));
        EXPECT_EQ(tree(rescue.drive.root()), Names{"Docs"});
        EXPECT_TRUE(fs::exists(rescue.cache.root() / "vfsMeta/drivecrypt{old}/Drive/Docs/a.txt"));
        EXPECT_TRUE(fs::exists(rescue.cache.root() / "vfs/drivecrypt{old}/Drive/Docs/a.txt"));
    }
}

TEST(CacheRecovery, FileCopierCopiesOnlyIntoANewFile)
{
    const CacheFixture::Cache folder;
    folder.write("source", "contents");
    fs::permissions(folder.root() / "source", fs::perms(0640));
    const auto lastWrite = fs::last_write_time(folder.root() / "source") - std::chrono::hours(24);
    fs::last_write_time(folder.root() / "source", lastWrite);

    CacheRecovery::fileCopier(folder.root() / "source", folder.root() / "copy");
    EXPECT_EQ(contents(folder.root() / "copy"), "contents");
    EXPECT_EQ(fs::status(folder.root() / "copy").permissions(), fs::perms(0640));
    EXPECT_EQ(fs::last_write_time(folder.root() / "copy"), lastWrite);

    folder.write("taken", "someone else's");
    EXPECT_THROW(CacheRecovery::fileCopier(folder.root() / "source", folder.root() / "taken"), std::system_error);
    EXPECT_EQ(contents(folder.root() / "taken"), "someone else's");
    EXPECT_THROW(CacheRecovery::fileCopier(folder.root() / "missing", folder.root() / "new"), std::system_error);
    EXPECT_FALSE(fs::exists(folder.root() / "new"));
}

TEST(CacheRecovery, AStopBeforeAFolderOrFileLeavesItAsItIs)
{
    Rescue rescue;
    rescue.cache.pending("drivecrypt{a}", "1.txt", "one");
    rescue.cache.pending("drivecrypt{a}", "2.txt", "two");
    rescue.cache.pending("drivecrypt{b}", "3.txt", "three");
    const std::set<std::string> folders{"drivecrypt{a}", "drivecrypt{b}"};

    // Told to stop after the first file: the folder in hand is neither removed nor kept.
    int copies = 0;
    const auto copyOnce = [&](const fs::path &source, const fs::path &target) {
        ++copies;
        CacheRecovery::fileCopier(source, target);
    };
    CacheRecovery::Outcome outcome = CacheRecovery::recover(
        rescue.cache.dir(), folders, "drivecrypt", rescue.drive.dir(), rescue.mounted, [&] { return copies == 0; },
        copyOnce);
    EXPECT_EQ(outcome, (CacheRecovery::Outcome{{"1.txt"}, {}, {}, true}));
    EXPECT_EQ(tree(rescue.drive.root()), Names{"1.txt"});
    EXPECT_TRUE(fs::exists(rescue.cache.root() / "vfsMeta/drivecrypt{a}/Drive/2.txt"));
    EXPECT_TRUE(fs::exists(rescue.cache.root() / "vfsMeta/drivecrypt{b}/Drive/3.txt"));

    // The drive is gone before the pass begins: nothing is touched.
    rescue.mounted = [](const QString &) { return false; };
    outcome = rescue.run(folders);
    EXPECT_EQ(outcome, (CacheRecovery::Outcome{{}, {}, {}, true}));

    // The next run takes only what is left.
    rescue.mounted = [](const QString &) { return true; };
    outcome = rescue.run(folders);
    EXPECT_EQ(outcome, (CacheRecovery::Outcome{{"2.txt", "3.txt"}, {"drivecrypt{a}", "drivecrypt{b}"}, {}, false}));
    EXPECT_EQ(tree(rescue.drive.root()), (Names{"1.txt", "2.txt", "3.txt"}));
}

namespace {

// The driver's closures, faked: the active folder and the mount come up after some attempts.
struct Driver {
    CacheFixture::Cache cache;
    CacheFixture::Cache drive;
    std::optional<std::string> active = "drivecrypt";
    int mountedFromAttempt = 1;
    int asked = 0;
    std::vector<std::chrono::milliseconds> pauses;
    CancelSource cancel;
    bool cancelInPause = false;

    std::optional<CacheRecovery::Outcome> run(std::set<std::string> folders, int attempts,
                                              QStringList earlierCaches = {})
    {
        const CacheRecovery::ActiveName activeName = [this](CancelToken) -> QCoro::Task<std::optional<std::string>> {
            ++asked;
            // A copy: QCoro 0.8 moves from any non-const lvalue given to co_return.
            const std::optional<std::string> answer = active;
            co_return answer;
        };
        const CacheRecovery::IsMounted isMounted = [this](const QString &) { return asked >= mountedFromAttempt; };
        const Sleep sleep = [this](std::chrono::milliseconds pause, CancelToken token) -> QCoro::Task<> {
            pauses.push_back(pause);
            if (cancelInPause)
                cancel.request_stop();
            checkCancelled(token);
            co_return;
        };
        return TestSupport::await(CacheRecovery::recoverWhenMounted(
            cache.dir(), std::move(folders), std::move(earlierCaches), drive.dir(), attempts, activeName, isMounted,
            CacheRecovery::fileCopier, sleep, cancel.get_token()));
    }
};

const std::vector<std::chrono::milliseconds> twoPauses{std::chrono::seconds(2), std::chrono::seconds(2)};
const QString gaveUp = QStringLiteral("Drive did not come up; old cache folders left for next time");

} // namespace

TEST(CacheRecovery, DriverRescuesOnceTheDriveIsUp)
{
    Driver driver;
    driver.cache.pending("drivecrypt{old}", "a.txt", "a");
    driver.mountedFromAttempt = 3;
    EXPECT_EQ(driver.run({"drivecrypt", "drivecrypt{old}"}, 60),
              (CacheRecovery::Outcome{{"a.txt"}, {"drivecrypt{old}"}, {}, false}));
    EXPECT_EQ(driver.asked, 3);
    EXPECT_EQ(driver.pauses, twoPauses);
}

TEST(CacheRecovery, DriverGivesUpAfterItsAttempts)
{
    const TestSupport::LogCapture log;
    struct Case {
        const char *name;
        std::optional<std::string> active;
        int mountedFromAttempt;
        int attempts;
        int asked;
        std::size_t pauses;
        bool logged;
    };
    const std::vector<Case> cases = {
        {"never mounted", "drivecrypt", 99, 3, 3, 2, true},
        {"no single active folder", std::nullopt, 1, 3, 3, 2, true},
        {"no attempts", "drivecrypt", 1, 0, 0, 0, true},
        {"nothing old", "drivecrypt{old}", 1, 3, 1, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Driver driver;
        driver.cache.pending("drivecrypt{old}", "a.txt", "a");
        driver.active = c.active;
        driver.mountedFromAttempt = c.mountedFromAttempt;
        const qsizetype logged = log.messages(QStringLiteral("cache-recovery")).count(gaveUp);

        EXPECT_EQ(driver.run({"drivecrypt{old}"}, c.attempts), std::nullopt);
        EXPECT_EQ(driver.asked, c.asked);
        EXPECT_EQ(driver.pauses.size(), c.pauses);
        EXPECT_EQ(log.messages(QStringLiteral("cache-recovery")).count(gaveUp) - logged, c.logged ? 1 : 0);
        EXPECT_TRUE(fs::exists(driver.cache.root() / "vfsMeta/drivecrypt{old}/Drive/a.txt"));
    }
}

TEST(CacheRecovery, DriverDoesNothingWithoutFoldersOrWhenCancelled)
{
    const TestSupport::LogCapture log;
    Driver idle;
    EXPECT_EQ(idle.run({}, 60), std::nullopt);
    EXPECT_EQ(idle.asked, 0);

    Driver cancelled;
    cancelled.cancel.request_stop();
    EXPECT_EQ(cancelled.run({"drivecrypt{old}"}, 60), std::nullopt);
    EXPECT_EQ(cancelled.asked, 0);

    Driver cancelledWhileWaiting;
    cancelledWhileWaiting.mountedFromAttempt = 99;
    cancelledWhileWaiting.cancelInPause = true;
    EXPECT_EQ(cancelledWhileWaiting.run({"drivecrypt{old}"}, 60), std::nullopt);
    EXPECT_EQ(cancelledWhileWaiting.asked, 1);
    EXPECT_FALSE(log.messages(QStringLiteral("cache-recovery")).contains(gaveUp));

    Driver negative;
    EXPECT_THROW(negative.run({"drivecrypt{old}"}, -1), std::invalid_argument);
}

namespace {

const CacheRecovery::DriveIdentity thisDrive{QStringLiteral("https://acct.r2.cloudflarestorage.com"),
                                             QStringLiteral("photos")};

QString deviceName()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

} // namespace

TEST(CacheRecovery, EarlierDeviceCachesAreThoseThatNameTheSameDrive)
{
    const TestSupport::LogCapture log;
    const CacheFixture::Cache caches; // the folder that holds one cache per device id
    const QString current = caches.dir() + u'/' + deviceName();
    ASSERT_TRUE(CacheRecovery::markDrive(current, thisDrive));
    EXPECT_EQ(CacheRecovery::markedDrive(current), thisDrive);
    ASSERT_TRUE(CacheRecovery::markDrive(current, thisDrive)) << "naming it again changes nothing";

    struct Case {
        const char *name;
        QString folder;
        std::optional<std::string> driveFile;
        bool earlier;
    };
    const auto file = [](const CacheRecovery::DriveIdentity &drive) {
        return "{\"endpoint\":\"" + drive.endpoint.toStdString() + "\",\"bucket\":\"" + drive.bucket.toStdString()
            + "\"}";
    };
    const std::vector<Case> cases = {
        {.name = "same drive", .folder = deviceName(), .driveFile = file(thisDrive), .earlier = true},
        {.name = "same drive, lower case id",
         .folder = deviceName().toLower(),
         .driveFile = file(thisDrive),
         .earlier = true},
        {.name = "another bucket",
         .folder = deviceName(),
         .driveFile = file({thisDrive.endpoint, QStringLiteral("other")}),
         .earlier = false},
        {.name = "another account",
         .folder = deviceName(),
         .driveFile = file({QStringLiteral("https://other.r2.cloudflarestorage.com"), thisDrive.bucket}),
         .earlier = false},
        {.name = "no drive file", .folder = deviceName(), .driveFile = std::nullopt, .earlier = false},
        {.name = "unreadable drive file", .folder = deviceName(), .driveFile = "{\"bucket\":1}", .earlier = false},
        {.name = "not a device id", .folder = QStringLiteral("Backup"), .driveFile = file(thisDrive), .earlier = false},
    };
    QStringList expected;
    for (const Case &c : cases) {
        fs::create_directories(caches.root() / c.folder.toStdString() / "vfsMeta/drivecrypt");
        if (c.driveFile)
            caches.write(fs::path(c.folder.toStdString()) / CacheRecovery::driveFileName, *c.driveFile);
        if (c.earlier)
            expected.append(caches.dir() + u'/' + c.folder);
    }
    expected.sort();
    EXPECT_EQ(CacheRecovery::earlierDeviceCaches(current, thisDrive), expected);
    EXPECT_EQ(log.messages(QStringLiteral("cache-recovery")).size(), 1) << "the unreadable drive file";
}

TEST(CacheRecovery, DriverRescuesEarlierDevicesCachesAndRemovesWhatIsLeftOfThem)
{
    Driver driver;
    const CacheFixture::Cache caches;
    const std::string emptied = deviceName().toStdString();
    const std::string withJournal = deviceName().toStdString();
    const auto pending = [&](const std::string &device, const std::string &folder, const std::string &path,
                             const std::string &data) {
        caches.write(fs::path(device) / "vfsMeta" / folder / "Drive" / path,
                     metaJson((long long)data.size(), {{0, (long long)data.size()}}, true));
        caches.write(fs::path(device) / "vfs" / folder / "Drive" / path, data);
    };
    for (const std::string &device : {emptied, withJournal})
        ASSERT_TRUE(CacheRecovery::markDrive(caches.dir() + u'/' + QString::fromStdString(device), thisDrive));
    pending(emptied, "drivecrypt", "Reports/q3.txt", "q3");
    caches.write(fs::path(emptied) / "vfs/drivecrypt/Drive/Photos/clean.jpg", "uploaded long ago");
    pending(withJournal, "drivecrypt", "notes.txt", "notes");
    pending(withJournal, "drivecrypt{old}", "old.txt", "old");
    caches.write(fs::path(withJournal) / "vfsTrash/1.jsonl", "{\"add\":{\"id\":1}}\n");
    // This device's own old folder goes first.
    driver.cache.pending("drivecrypt{old}", "own.txt", "own");

    const QStringList earlier{caches.dir() + u'/' + QString::fromStdString(emptied),
                              caches.dir() + u'/' + QString::fromStdString(withJournal)};
    EXPECT_EQ(driver.run({"drivecrypt", "drivecrypt{old}"}, 3, earlier),
              (CacheRecovery::Outcome{{"own.txt", "Reports/q3.txt", "notes.txt", "old.txt"},
                                      {"drivecrypt{old}", emptied + "/drivecrypt", withJournal + "/drivecrypt",
                                       withJournal + "/drivecrypt{old}"},
                                      {},
                                      false}));
    EXPECT_EQ(tree(driver.drive.root()), (Names{"Reports", "Reports/q3.txt", "notes.txt", "old.txt", "own.txt"}));
    EXPECT_EQ(contents(driver.drive.root() / "Reports/q3.txt"), "q3");
    EXPECT_EQ(tree(caches.root()),
              (Names{withJournal, withJournal + "/" + CacheRecovery::driveFileName, withJournal + "/vfsTrash",
                     withJournal + "/vfsTrash/1.jsonl"}))
        << "a device's cache goes once only empty folders and its drive file are left";

    // Earlier devices' caches alone are reason enough to wait for the drive.
    Driver only;
    pending(withJournal, "drivecrypt", "later.txt", "later");
    EXPECT_EQ(only.run({}, 3, {earlier[1]}),
              (CacheRecovery::Outcome{{"later.txt"}, {withJournal + "/drivecrypt"}, {}, false}));
}
