#include "DriveCore/services/StorageUsage.h"

#include "DriveCore/platform/ByteCountFormat.h"
#include "DriveCore/support/JsonReader.h"
#include "DriveCore/support/UserError.h"

#include <algorithm>
#include <exception>

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

// Cancels the sibling request as soon as this one fails. `both` outlives the task: measure()
// awaits both requests before it returns.
QCoro::Task<qint64> sizeOrCancelSibling(RCClient rc, QString fs, LinkedCancelSource *both)
{
    try {
        co_return co_await folderSize(std::move(rc), std::move(fs), both->token());
    } catch (...) {
        both->cancel();
        throw;
    }
}

QString sizeText(qint64 bytes)
{
    return bytes == 0 ? QStringLiteral("0 GB") : ByteCountFormat::fileSize(bytes);
}

} // namespace

QCoro::Task<StorageUsage> StorageUsage::measure(RCClient rc, QString cryptRemote, CancelToken token)
{
    LinkedCancelSource both(token);
    QCoro::Task<qint64> drive = sizeOrCancelSibling(rc, cryptRemote + QStringLiteral(":Drive"), &both);
    QCoro::Task<qint64> trash = sizeOrCancelSibling(rc, cryptRemote + QStringLiteral(":Recently Deleted"), &both);

    StorageUsage usage;
    std::exception_ptr driveError;
    std::exception_ptr trashError;
    try {
        usage.driveBytes = co_await drive;
    } catch (...) {
        driveError = std::current_exception();
    }
    try {
        usage.recentlyDeletedBytes = co_await trash;
    } catch (...) {
        trashError = std::current_exception();
    }
    // A cancellation here is the echo of the sibling's failure, unless the caller cancelled.
    if (driveError && (!isCancellation(driveError) || !trashError || isCancellation(trashError)))
        std::rethrow_exception(driveError);
    if (trashError)
        std::rethrow_exception(trashError);
    co_return usage;
}

double StorageUsage::monthlyCost(qint64 bytes)
{
    return std::max(0.0, double(bytes) / bytesPerGB - freeGB) * pricePerGBMonth;
}

QString StorageUsage::usedText() const
{
    return QStringLiteral("Used: %1 \u00B7 Recently Deleted: %2").arg(sizeText(driveBytes), sizeText(recentlyDeletedBytes));
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
