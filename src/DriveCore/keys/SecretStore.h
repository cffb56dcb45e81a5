#pragma once

#include <QString>

namespace DriveCore {

// The S3 connection every rclone configuration is built from.
struct StorageSecrets {
    QString endpoint;
    QString bucket;
    QString accessKeyID;
    QString secretAccessKey;

    bool operator==(const StorageSecrets &) const = default;
};

} // namespace DriveCore
