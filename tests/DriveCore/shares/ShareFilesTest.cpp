#include "DriveCore/shares/ShareFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <system_error>

#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace DriveCore;

namespace {

class ShareFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Others may look in, for the checks run as an ordinary user.
        ::chmod(QFile::encodeName(root.path()).constData(), 0755);
    }

    QString path(const QString &relative) const { return root.filePath(relative); }

    QString file(const QString &relative, const QByteArray &data = "data")
    {
        const QString full = path(relative);
        QDir().mkpath(QFileInfo(full).path());
        QFile out(full);
        if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size())
            qFatal("cannot write %s", qPrintable(full));
        return full;
    }

    QString folder(const QString &relative)
    {
        QDir().mkpath(path(relative));
        return path(relative);
    }

    QString link(const QString &relative, const QString &target)
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        QFile::link(target, path(relative));
        return path(relative);
    }

    static QStringList paths(const QList<ShareItem> &items)
    {
        QStringList paths;
        for (const ShareItem &item : items)
            paths.append(item.path);
        return paths;
    }

    static std::optional<ShareFiles::Failure> failureOf(const QStringList &picked)
    {
        try {
            ShareFiles::collect(picked);
        } catch (const ShareFiles::Failure &failure) {
            return failure;
        }
        return std::nullopt;
    }

    QTemporaryDir root;
};

// Root reads folders of any mode; with another file-system user id (this thread only) it no
// longer does.
template<typename F>
void asOrdinaryUser(F action)
{
    const bool root = ::geteuid() == 0;
    if (root)
        ::setfsuid(65534);
    action();
    if (root)
        ::setfsuid(0);
}

TEST_F(ShareFilesTest, KeepsThePickedOrderAndSortsEachFolderAsTheFileManagerDoes)
{
    const QString b = file(QStringLiteral("B.txt"), "bb");
    file(QStringLiteral("F/x10.txt"));
    file(QStringLiteral("F/x2.txt"));
    file(QStringLiteral("F/sub/a.txt"), "aaa");
    file(QStringLiteral("F/one/two/three/name"));
    const QString a = file(QStringLiteral("A.txt"));
    ::utimensat(AT_FDCWD, QFile::encodeName(b).constData(),
                std::array<timespec, 2>{timespec{0, UTIME_OMIT}, timespec{1'772'600'767, 250'000'000}}.data(), 0);

    const QList<ShareItem> items = ShareFiles::collect({b, path(QStringLiteral("F/")), a});
    EXPECT_EQ(paths(items),
              (QStringList{"B.txt", "F/one/two/three/name", "F/sub/a.txt", "F/x2.txt", "F/x10.txt", "A.txt"}));
    struct stat status{};
    ASSERT_EQ(::stat(QFile::encodeName(b).constData(), &status), 0);
    EXPECT_EQ(items[0],
              (ShareItem{"B.txt", b, 2, QDateTime::fromMSecsSinceEpoch(1'772'600'767'250, Qt::UTC),
                         FileIdentity{quint64(status.st_dev), quint64(status.st_ino)}}));
    EXPECT_EQ(items[2].url, path(QStringLiteral("F/sub/a.txt")));
    EXPECT_EQ(items[2].size, 3);
}

TEST_F(ShareFilesTest, LeavesOutHiddenItemsLinksAndWhatIsNotAFile)
{
    file(QStringLiteral("F/.hidden"));
    file(QStringLiteral("F/.cache/inside.txt"));
    file(QStringLiteral("F/Photos.app/Contents/Info.plist")); // packages are folders like any other
    const QString kept = file(QStringLiteral("F/kept.txt"));
    link(QStringLiteral("F/to-file"), kept);
    link(QStringLiteral("F/to-folder"), path(QStringLiteral("F/Photos.app")));
    ::mkfifo(QFile::encodeName(path(QStringLiteral("F/pipe"))).constData(), 0644);
    file(QStringLiteral(".config/settings.txt"));
    const QString hidden = file(QStringLiteral(".secret"));
    const QString linked = link(QStringLiteral("linked.txt"), kept);

    const QList<ShareItem> items =
        ShareFiles::collect({path(QStringLiteral("F")), hidden, linked, path(QStringLiteral(".config"))});
    EXPECT_EQ(paths(items), (QStringList{"F/kept.txt", "F/Photos.app/Contents/Info.plist", ".config/settings.txt"}));
}

TEST_F(ShareFilesTest, NothingToShareWhenNoRegularFileIsLeft)
{
    const QString kept = file(QStringLiteral("kept.txt"));
    const std::vector<QStringList> picks{
        {folder(QStringLiteral("empty"))},
        {path(QStringLiteral("onlyHidden")), file(QStringLiteral(".hidden.txt"))},
        {link(QStringLiteral("onlyLinks/a"), kept)},
        {link(QStringLiteral("folder-link"), root.path())},
        {},
    };
    file(QStringLiteral("onlyHidden/.a"));
    for (const QStringList &picked : picks) {
        const auto failure = failureOf(picked);
        ASSERT_TRUE(failure) << picked.join(u' ').toStdString();
        EXPECT_EQ(failure->value, ShareFiles::Failure::nothingToShare);
    }
    EXPECT_TRUE(failureOf({path(QStringLiteral("onlyLinks"))}));
}

TEST_F(ShareFilesTest, AFolderThatCannotBeReadFailsWithItsName)
{
    file(QStringLiteral("F/a.txt"));
    file(QStringLiteral("F/locked/b.txt"));
    file(QStringLiteral("G/c.txt"));
    const QString ok = file(QStringLiteral("ok.txt"));
    ::chmod(QFile::encodeName(path(QStringLiteral("F/locked"))).constData(), 0);
    ::chmod(QFile::encodeName(path(QStringLiteral("G"))).constData(), 0);

    asOrdinaryUser([&] {
        const auto inside = failureOf({path(QStringLiteral("F"))});
        ASSERT_TRUE(inside);
        EXPECT_EQ(*inside, ShareFiles::Failure(ShareFiles::Failure::unreadable, QStringLiteral("locked")));
        const auto picked = failureOf({ok, path(QStringLiteral("G"))});
        ASSERT_TRUE(picked);
        EXPECT_EQ(*picked, ShareFiles::Failure(ShareFiles::Failure::unreadable, QStringLiteral("G")));
    });
    ::chmod(QFile::encodeName(path(QStringLiteral("F/locked"))).constData(), 0755);
    ::chmod(QFile::encodeName(path(QStringLiteral("G"))).constData(), 0755);
}

TEST_F(ShareFilesTest, APickedItemThatIsGoneFailsWithTheSystemError)
{
    try {
        ShareFiles::collect({file(QStringLiteral("a.txt")), path(QStringLiteral("gone.txt"))});
        FAIL() << "collected a missing item";
    } catch (const std::system_error &error) {
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
        EXPECT_TRUE(QString::fromUtf8(error.what()).startsWith(u"gone.txt")) << error.what();
    }
}

TEST(ShareFiles, TitleNamesTheFirstPickAndCountsTheRest)
{
    EXPECT_EQ(ShareFiles::title({}), QStringLiteral("Shared files"));
    EXPECT_EQ(ShareFiles::title({QStringLiteral("/drive/Photos/")}), QStringLiteral("Photos"));
    EXPECT_EQ(ShareFiles::title(
                  {QStringLiteral("/drive/Photos"), QStringLiteral("/drive/a.txt"), QStringLiteral("/drive/b")}),
              QStringLiteral("Photos and 2 more"));
}

} // namespace
