#pragma once

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/support/Cancellation.h"

#include <QByteArray>
#include <QCoroTask>
#include <QDateTime>
#include <QString>
#include <QUrl>

#include <optional>

namespace DriveCore {

// The record of the deployed link page, kept in the drive's metadata folder so that every
// machine of the drive knows where links are served, from which modules and by which build.
struct ShareWorkerConfig {
    QUrl url; // where the link page answers, as the deployment gave it
    QString version; // ShareWorkerDeploy::version() of the modules that were uploaded
    std::optional<qint64> appBuild; // the build that deployed it
    QDateTime deployedAt;

    bool operator==(const ShareWorkerConfig &) const = default;

    // Whether this machine, carrying modules of `version` as build `appBuild`, should replace
    // the link page: only when the versions differ and the record's build (0 when it has none)
    // is lower. A link page from a newer build is never replaced by an older one.
    bool isOutdated(const QString &version, qint64 appBuild) const;

    // The record's object in the metadata folder.
    static constexpr const char *fileName = "share-worker.json";
    // The prefix of the scratch folder each load and save works in.
    static constexpr const char *scratchPrefix = "CorvaneDrive-shareworker-";

    // The record of the drive whose metadata folder is `metaFs`, or none when it has none.
    // Throws std::system_error for the scratch folder, JsonDecodingError for a stored object that
    // is not a record, and whatever else the engine's remote control throws (RCError,
    // HTTPTransportError, CancelledError).
    static QCoro::Task<std::optional<ShareWorkerConfig>> load(RCClient rc, QString metaFs, CancelToken token = {});
    // Writes this record, replacing any earlier one. Throws as load does.
    QCoro::Task<> save(RCClient rc, QString metaFs, CancelToken token = {}) const;

    // The stored form, written as the link records are: compact JSON with sorted keys ("appBuild"
    // left out when there is none), "/" written as "\/", the date in whole seconds.
    QByteArray encoded() const;
    // "url" (an absolute address), "version" and "deployedAt" required, "appBuild" optional,
    // other keys ignored. Throws JsonDecodingError.
    static ShareWorkerConfig decoded(const QByteArray &json);
};

} // namespace DriveCore
