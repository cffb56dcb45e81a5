#pragma once

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/platform/HTTPSend.h"
#include "DriveCore/shares/ShareLinks.h"

#include <QByteArray>
#include <QCoroTask>

#include <optional>

namespace DriveCore {

// A link's live figures as its link page reports them.
struct ShareInfo {
    std::optional<qint64> expiresAt; // seconds since 1970; none: never expires
    std::optional<qint64> maxDownloads; // none: no limit
    qint64 downloads = 0;
    qint64 fileCount = 0;
    qint64 totalBytes = 0;

    bool operator==(const ShareInfo &) const = default;
    // "downloads", "fileCount" and "totalBytes" required; the others may be missing or null.
    static ShareInfo decode(const JsonReader &reader);

    // What the link page says of a link.
    struct Status;

    // GET <link page>/api/s/<id>/info, proving the link is held by its access token in
    // "X-Ovra-Access" (base64url, never the hash), with a 15-second time-out. For a link with a
    // password this costs a full password derivation: build it in the pool. Throws
    // ShareFormat::Failure (pbkdf2, or badShareID for an id that would not make the address).
    static HTTPRequest request(const ShareRecord &record);

    // 404 and 410: ended; 200 with the figures: live; anything else: unknown. Never fails.
    static Status status(int httpStatus, const QByteArray &body);

    // Builds the request in the pool, sends it and reads the answer; a request that cannot be
    // built or sent gives unknown. Throws only CancelledError.
    static QCoro::Task<Status> fetch(ShareRecord record, HTTPSend send, CancelToken token = {});
};

struct ShareInfo::Status {
    enum Kind {
        live, // the link page answered with its figures
        ended, // expired, used up or stopped
        unknown, // no usable answer
    };
    Kind kind = unknown;
    std::optional<ShareInfo> info; // for live

    static Status makeLive(ShareInfo info) { return {live, std::move(info)}; }
    bool operator==(const Status &) const = default;
};

} // namespace DriveCore
