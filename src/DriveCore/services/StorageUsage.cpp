#include "DriveCore/services/StorageUsage.h"

#include "DriveCore/platform/ByteCountFormat.h"
#include "DriveCore/support/JsonReader.h"
#include "DriveCore/support/Tasks.h"

#include <algorithm>

namespace DriveCore {

namespace {

struct SizeReply {
    qint64 bytes = 0;
    static SizeReply decode(const JsonReader &reader) { return {reader.value<qint64>(u"bytes")}; }
};

QCoro::Task<qint64> folderSize(RCClient rc, QString fs, CancelToken token)
{
    try {
        const SizeReply reply =
            co_await rc.call<SizeReply>(QStringLiteral("operations/size"), {{QStringLiteral("fs"), fs}}, token);
        co_return std::max<qint64>(reply.bytes, 0);
    } catch (const RCError &error) {
        // A folder not made yet, such as the trash before the first deletion.
        if (!error.message.contains(u"directory not found"))
            throw;
    }
    co_return 0;
}

QString sizeText(qint64 bytes)
{
    return bytes == 0 ? QStringLiteral("0 GB") : ByteCountFormat::fileSize(bytes);
}

} // namespace

QCoro::Task<StorageUsage> StorageUsage::measure(RCClient rc, QString cryptRemote, CancelToken token)
{
    const auto [driveBytes, trashBytes] = co_await awaitBoth(
        [rc, fs = cryptRemote + QStringLiteral(":Drive")](CancelToken both) { return folderSize(rc, fs, both); },
        [rc, fs = cryptRemote + QStringLiteral(":Recently Deleted")](CancelToken both) {
            return folderSize(rc, fs, both);
        },
        token);
    StorageUsage usage;
    usage.driveBytes = driveBytes;
    usage.recentlyDeletedBytes = trashBytes;
    co_return usage;
}

double StorageUsage::monthlyCost(qint64 bytes)
{
    return std::max(0.0, double(bytes) / bytesPerGB - freeGB) * pricePerGBMonth;
}

QString StorageUsage::usedText() const
{
    return QStringLiteral("Used: %1 \u00B7 Recently Deleted: %2")
        .arg(sizeText(driveBytes), sizeText(recentlyDeletedBytes));
}

QString StorageUsage::costText() const
{
    static const QString free = QStringLiteral("About $0.00 this month (the first 10 GB are free)");
    const double billable = double(totalBytes()) / bytesPerGB - freeGB;
    if (billable < 0)
        return free;
    const double cost = billable * pricePerGBMonth;
    if (cost == 0)
        return free;
    if (cost < 0.005)
        return QStringLiteral("Less than $0.01 this month");
    return QString::asprintf("About $%.2f this month", cost);
}

} // namespace DriveCore
