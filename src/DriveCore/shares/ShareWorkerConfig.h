#pragma once

#include <QDateTime>
#include <QString>
#include <QUrl>

#include <optional>

namespace DriveCore {

// The record of the deployed link page, kept in the drive's metadata folder so that every
// machine of the drive knows where links are served, from which modules and by which build.
struct ShareWorkerConfig {
    QUrl url;        // where the link page answers, as the deployment gave it
    QString version; // ShareWorkerDeploy::version() of the modules that were uploaded
    std::optional<qint64> appBuild; // the build that deployed it
    QDateTime deployedAt;

    bool operator==(const ShareWorkerConfig &) const = default;

    // Whether this machine, carrying modules of `version` as build `appBuild`, should replace
    // the link page: only when the versions differ and the record's build (0 when it has none)
    // is lower. A link page from a newer build is never replaced by an older one.
    bool isOutdated(const QString &version, qint64 appBuild) const;
};

} // namespace DriveCore
