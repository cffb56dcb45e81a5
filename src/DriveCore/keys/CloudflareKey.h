#pragma once

#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/platform/HTTPSend.h"

#include <QCoroTask>
#include <QString>
#include <QUrl>

#include <stdexcept>

namespace DriveCore::CloudflareKey {

// Cloudflare's API v4; tests point the check at their own server.
inline constexpr const char *apiBase = "https://api.cloudflare.com/client/v4/";

// Carries no text: the caller chooses the sentence.
class Failure : public std::runtime_error {
public:
    enum Case {
        notCloudflare, // the endpoint is not a Cloudflare R2 account endpoint
        notAValidKey,  // empty, unknown or switched-off token
    };

    explicit Failure(Case value);

    bool operator==(Case other) const { return value == other; }

    Case value;
};

// Checks the token with Cloudflare (as an account token, then as a user token) and turns it
// into storage keys for `endpoint` and `bucket`, which are kept exactly as given. Throws Failure,
// or whatever `send` throws for a transport failure.
QCoro::Task<StorageSecrets> storageSecrets(QString token, QString endpoint, QString bucket, HTTPSend send,
                                           QUrl base = QUrl(QLatin1String(apiBase)), CancelToken cancel = {});

struct StorageKeys {
    QString accessKeyID;
    QString secretAccessKey;
};

// The access key id is the token's id; the secret key the lower-case hex SHA-256 of its value.
StorageKeys storageKeys(const QString &tokenID, const QString &tokenValue);

} // namespace DriveCore::CloudflareKey
