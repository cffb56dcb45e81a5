#include "DriveCore/mount/UploadStatus.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using namespace DriveCore;

namespace {

const QString global = QStringLiteral("global_stats");
const QString drive = QStringLiteral("drivecrypt:Drive");

Transferring uploading(const QString &name, qint64 percent, std::optional<qint64> eta,
                       std::optional<QString> group = global, std::optional<QString> dstFs = drive)
{
    return {name, 1000, 10 * percent, percent, eta, group, dstFs};
}

Transferred finished(const QString &name, const QString &error, qint64 size = 1000,
                     std::optional<QString> group = global, std::optional<QString> dstFs = drive)
{
    return {name, size, error, QStringLiteral("2024-03-01T10:00:00Z"), std::nullopt, group, dstFs};
}

VFSStats pending(qint64 inProgress, qint64 queued = 0)
{
    return {{inProgress, queued, 0}, std::nullopt};
}

UploadRow row(const QString &id, const QString &name, UploadRow::State state, qint64 size = 1000)
{
    return {id, name, size, std::move(state)};
}

} // namespace

TEST(UploadStatus, RowsShowOnlyUploadsIntoTheDrive)
{
    const CoreStats stats{{
        uploading(QStringLiteral("Photos/a.jpg"), 40, 12),
        uploading(QStringLiteral("b.txt"), 5, std::nullopt, global, QStringLiteral("drivecrypt{x}:Drive")),
        uploading(QStringLiteral("c.txt"), 5, 3, global, QStringLiteral("drivecrypt:Recently Deleted")),
        uploading(QStringLiteral("d.txt"), 5, 3, QStringLiteral("job/4")),
        uploading(QStringLiteral("e.txt"), 5, 3, std::nullopt),
        uploading(QStringLiteral("f.txt"), 5, 3, global, std::nullopt),
    }};
    EXPECT_EQ(UploadStatus::rows(stats, {}, pending(2), true),
              (QList<UploadRow>{
                  row(QStringLiteral("Photos/a.jpg"), QStringLiteral("a.jpg"), UploadRow::Uploading{40, 12}),
                  row(QStringLiteral("b.txt"), QStringLiteral("b.txt"), UploadRow::Uploading{5, std::nullopt}),
              }));
    EXPECT_EQ(UploadStatus::rows(stats, {}, pending(2), false).first(),
              row(QStringLiteral("Photos/a.jpg"), QStringLiteral("a.jpg"),
                  UploadRow::Waiting{QStringLiteral("Waiting for internet")}));
}

TEST(UploadStatus, FinishedFilesShowOnceWhereTheyFirstAppearAsTheyLastEnded)
{
    const CoreStats stats{{uploading(QStringLiteral("again.txt"), 10, 30)}};
    const QList<Transferred> done = {
        finished(QStringLiteral("Docs/x.pdf"), QStringLiteral("connection reset")),
        finished(QStringLiteral("y.pdf"), QStringLiteral("denied")),
        finished(QStringLiteral("again.txt"), {}),
        finished(QStringLiteral("share.bin"), {}, 5, QStringLiteral("job/9")),
        finished(QStringLiteral("Docs/x.pdf"), {}, 2000),
        finished(QStringLiteral("Folder/"), {}, 7),
    };
    EXPECT_EQ(UploadStatus::rows(stats, done, pending(1), true),
              (QList<UploadRow>{
                  row(QStringLiteral("again.txt"), QStringLiteral("again.txt"), UploadRow::Uploading{10, 30}),
                  row(QStringLiteral("Docs/x.pdf"), QStringLiteral("x.pdf"), UploadRow::Safe{}, 2000),
                  row(QStringLiteral("y.pdf"), QStringLiteral("y.pdf"),
                      UploadRow::Problem{QStringLiteral("Couldn't upload yet \u2014 will keep trying")}),
                  row(QStringLiteral("Folder/"), QStringLiteral("Folder"), UploadRow::Safe{}, 7),
              }));
}

TEST(UploadStatus, StatusLineFollowsTheEnginesPendingCount)
{
    const auto uploadingRow = [](std::optional<qint64> eta) {
        return row(QStringLiteral("a"), QStringLiteral("a"), UploadRow::Uploading{50, eta});
    };
    struct Case {
        QList<UploadRow> rows;
        VFSStats vfs;
        bool online;
        QString line;
    };
    const std::vector<Case> cases = {
        {{}, pending(0), true, QStringLiteral("All files safe in cloud \u2713")},
        {{}, pending(0), false, QStringLiteral("All files safe in cloud \u2713")},
        {{uploadingRow(12)}, pending(0), true, QStringLiteral("All files safe in cloud \u2713")},
        {{}, pending(2, 1), false, QStringLiteral("Waiting for internet")},
        {{uploadingRow(12)}, pending(1), true, QStringLiteral("Uploading 1 file \u2014 1 min left")},
        {{uploadingRow(61), uploadingRow(3600)},
         pending(1, 1),
         true,
         QStringLiteral("Uploading 2 files \u2014 60 min left")},
        {{uploadingRow(60)}, pending(2), true, QStringLiteral("Uploading 2 files \u2014 1 min left")},
        {{uploadingRow(61)}, pending(2), true, QStringLiteral("Uploading 2 files \u2014 2 min left")},
        {{uploadingRow(std::nullopt), uploadingRow(std::nullopt)},
         pending(0, 5),
         true,
         QStringLiteral("Uploading 5 files \u2014 1 min left")},
        // Only uploading rows count; waiting, problem and safe rows carry no estimate.
        {{uploadingRow(-300), row(QStringLiteral("b"), QStringLiteral("b"), UploadRow::Safe{})},
         pending(3),
         true,
         QStringLiteral("Uploading 3 files \u2014 1 min left")},
        {{uploadingRow(std::numeric_limits<qint64>::max())},
         pending(std::numeric_limits<qint64>::max(), 1),
         true,
         QStringLiteral("Uploading 9223372036854775807 files \u2014 153722867280912930 min left")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        EXPECT_EQ(UploadStatus::statusLine(c.rows, c.vfs, c.online), c.line);
    }
}
