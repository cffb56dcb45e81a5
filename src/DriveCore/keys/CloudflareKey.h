#pragma once

#include "DriveCore/keys/SecretStore.h"
#include "DriveCore/platform/HTTPSend.h"

#include <QCoroTask>
#include <QString>
#include <QUrl>

#include <optional>
#include <stdexcept>

namespace DriveCore::CloudflareKey {

// The domain under which Cloudflare R2 serves each account's S3 endpoint.
inline constexpr const char *r2EndpointDomain = "r2.cloudflarestorage.com";
// Cloudflare's API v4; tests point the check at their own server.
inline constexpr const char *apiBase = "https://api.cloudflare.com/client/v4/";

// Carries no text: the caller chooses the sentence.
class Failure : public std::runtime_error {
public:
    enum Case {
        notCloudflare, // the endpoint is not a Cloudflare R2 account endpoint
        notAValidKey, // empty, unknown or switched-off token
    };

    explicit Failure(Case value);

    bool operator==(Case other) const { return value == other; }

    Case value;
};

// The Cloudflare account id in an R2 endpoint: the first label of a host under the R2 domain,
// exactly 32 hexadecimal digits. None for any other text.
std::optional<QString> accountID(const QString &endpoint);

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
