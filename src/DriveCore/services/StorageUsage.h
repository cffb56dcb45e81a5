#pragma once

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/support/Cancellation.h"

#include <QCoroTask>
#include <QString>

namespace DriveCore {

// What the drive stores in the bucket, and what that costs a month at Cloudflare R2's storage
// price.
struct StorageUsage {
    static constexpr double pricePerGBMonth = 0.015; // dollars
    static constexpr double freeGB = 10; // a month, free of charge
    static constexpr double bytesPerGB = 1e9;

    static constexpr const char *estimateNote =
        "An estimate at Cloudflare R2 Standard prices ($0.015 per GB a month, first 10 GB free). "
        "Storage only: uploads and downloads can add a little. Your Cloudflare bill is the real figure.";

    qint64 driveBytes = 0; // the "Drive" folder
    qint64 recentlyDeletedBytes = 0; // the "Recently Deleted" folder

    bool operator==(const StorageUsage &) const = default;

    // Sizes "<cryptRemote>:Drive" and "<cryptRemote>:Recently Deleted" at the same time. A
    // folder that does not exist yet has 0 bytes, and a negative size counts 0. When either
    // request fails the other is cancelled and this fails with the failed one's error (the
    // Drive's when both fail on their own).
    static QCoro::Task<StorageUsage> measure(RCClient rc, QString cryptRemote, CancelToken token = {});

    qint64 totalBytes() const { return driveBytes + recentlyDeletedBytes; }
    double estimatedMonthlyCost() const { return monthlyCost(totalBytes()); }
    // max(0, GB - 10) x 0.015 dollars.
    static double monthlyCost(qint64 bytes);

    // "Used: <drive> · Recently Deleted: <trash>"
    QString usedText() const;
    // "About $0.00 this month (the first 10 GB are free)", "Less than $0.01 this month" or
    // "About $<cost> this month".
    QString costText() const;
};

} // namespace DriveCore
