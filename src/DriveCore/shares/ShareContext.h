#pragma once

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/shares/ShareStorage.h"

#include <QString>

#include <memory>
#include <optional>

namespace DriveCore {

// What one share action needs of the running drive, taken fresh from the app model at the start
// of each action and kept by none, so a restarted drive, new keys or a newly kept token count
// from the next action on. A value: background work gets copies. HTTP goes through an HTTPSend
// (liveHTTPSend in production, platform/HTTPSend.h).
struct ShareContext {
    RCClient rc; // the running engine's client: link records and the link page's record
    std::shared_ptr<const ShareStorage> storage; // where share objects are written and removed
    QString deviceName; // this machine's name: the createdBy of new links
    QString mountPath; // picked files must lie below it
    QString endpoint; // of the stored storage keys: the link page's Cloudflare account
    QString bucket; // of the stored storage keys: the link page is named and bound after it
    std::optional<QString> blockedReason; // why new links can't be made now; none when they can
    std::optional<QString> cloudflareKey; // the kept Cloudflare API token, none when none or unreadable
};

} // namespace DriveCore
