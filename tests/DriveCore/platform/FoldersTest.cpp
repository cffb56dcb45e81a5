#include "DriveCore/platform/Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace DriveCore;

namespace {

void write(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size()) << path.toStdString();
}

// The removal never leaves the folder it was given, nor follows a link below it.
TEST(Folders, RemovesOnlyRegularFilesReachedInsideTheFolderWithoutLinks)
{
    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("copy"));
    const QString outside = root.filePath(QStringLiteral("outside"));
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/Photos/2026")) && QDir().mkpath(outside));
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/folder")));
    write(outside + QStringLiteral("/victim.bin"), "12345");
    write(root.filePath(QStringLiteral("beside.bin")), "12345");
    ASSERT_TRUE(QFile::link(outside, folder + QStringLiteral("/linked folder")));
    ASSERT_TRUE(QFile::link(outside + QStringLiteral("/victim.bin"), folder + QStringLiteral("/linked file.bin")));

    const struct {
        const char *relative;
        bool removed;
    } cases[] = {
        {"Photos/2026/short.bin", true},
        {"whole.bin", false}, // has the size asked to keep
        {"linked folder/victim.bin", false},
        {"linked file.bin", false},
        {"../beside.bin", false},
        {"Photos/../../beside.bin", false},
        {"./short.bin", false},
        {"Photos//2026/short.bin", false},
        {"", false},
        {"folder", false},
        {"missing/short.bin", false},
        {"Photos/2026/missing.bin", false},
    };
    for (const auto &c : cases) {
        write(folder + QStringLiteral("/Photos/2026/short.bin"), "123");
        write(folder + QStringLiteral("/short.bin"), "123");
        write(folder + QStringLiteral("/whole.bin"), "12345");
        EXPECT_EQ(
            Folders::removeFileBeneath(folder, QString::fromUtf8(c.relative), [](qint64 size) { return size != 5; }),
            c.removed)
            << c.relative;
        EXPECT_EQ(QFile::exists(folder + QStringLiteral("/Photos/2026/short.bin")), !c.removed) << c.relative;
    }
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/short.bin")));
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/whole.bin")));
    EXPECT_TRUE(QFile::exists(outside + QStringLiteral("/victim.bin")));
    EXPECT_TRUE(QFile::exists(root.filePath(QStringLiteral("beside.bin"))));
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/linked file.bin")).isSymLink());
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/folder")).isDir());
    // A destination that is not there has nothing to remove.
    EXPECT_FALSE(Folders::removeFileBeneath(root.filePath(QStringLiteral("none")), QStringLiteral("a"),
                                            [](qint64) { return true; }));
}

} // namespace
