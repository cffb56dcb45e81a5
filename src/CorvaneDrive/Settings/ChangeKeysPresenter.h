#pragma once

#include "DriveCore/keys/SecretStore.h"

#include <QString>

namespace CorvaneDrive {

// The "Change storage keys" sheet's fields and rules: one Cloudflare API token or the S3 key
// pair, beside the endpoint and the bucket. Toolkit-free; the sheet renders it.
struct ChangeKeysPresenter {
    static inline const QString title = QStringLiteral("Change storage keys");
    static inline const QString explanation =
        QStringLiteral("Use this after making a new Cloudflare token, for example if a computer was lost.");
    static inline const QString tokenSegment = QStringLiteral("One Cloudflare API token");
    static inline const QString keysSegment = QStringLiteral("Storage keys");
    static inline const QString tokenHint = QStringLiteral("An API token from Account API Tokens with the \"Edit "
                                                           "Cloudflare Workers\" template (with \"Workers R2 Storage · "
                                                           "Edit\") plus \"Account Analytics · Read\". It also sets up "
                                                           "your share links and shows what Cloudflare charges.");
    static inline const QString endpointLabel = QStringLiteral("Endpoint");
    static inline const QString bucketLabel = QStringLiteral("Bucket");
    static inline const QString tokenLabel = QStringLiteral("Cloudflare API token");
    static inline const QString accessKeyIDLabel = QStringLiteral("Access Key ID");
    static inline const QString secretAccessKeyLabel = QStringLiteral("Secret Access Key");
    static inline const QString checkingText = QStringLiteral("Checking the keys…");
    static inline const QString saveTitle = QStringLiteral("Save");
    static constexpr int width = 420;

    QString endpoint;
    QString bucket;
    QString accessKeyID;
    QString secretAccessKey;
    bool useCloudflareKey = true;
    QString cloudflareKey;
    bool working = false;

    // Every field the mode needs holds something (blanks count: they are not trimmed here), and
    // no save runs.
    bool canSave() const;
    // The four fields trimmed, for the storage-keys mode.
    DriveCore::StorageSecrets secrets() const;
};

} // namespace CorvaneDrive
