#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

namespace DriveCore {

// The S3 connection every rclone configuration is built from.
struct StorageSecrets {
    QString endpoint;
    QString bucket;
    QString accessKeyID;
    QString secretAccessKey;

    bool operator==(const StorageSecrets &) const = default;

    // A JSON object with exactly these four keys.
    QJsonObject toJson() const;
    // None unless all four keys hold strings; other keys are ignored.
    static std::optional<StorageSecrets> fromJson(const QJsonObject &object);
};

} // namespace DriveCore
