#pragma once

#include <QString>

#include <stdexcept>

namespace DriveCore::ShareWorkerDeploy {

// The domain under which Cloudflare R2 serves each account's S3 endpoint.
inline constexpr const char *r2EndpointDomain = "r2.cloudflarestorage.com";

class Failure : public std::runtime_error {
public:
    enum Case { noAccountID };

    explicit Failure(Case value);

    bool operator==(Case other) const { return value == other; }

    Case value;
};

// The Cloudflare account id in an R2 endpoint: the first label of a host under the R2 domain,
// exactly 32 hexadecimal digits. Throws Failure::noAccountID for any other text.
QString accountID(const QString &endpoint);

} // namespace DriveCore::ShareWorkerDeploy
