#include "DriveCore/shares/ShareWorkerDeploy.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace DriveCore;

namespace {

const QString account = QStringLiteral("0123456789abcdef0123456789abcdef");

TEST(ShareWorkerDeployTest, AccountIDIsTheFirstLabelOfAnR2Host)
{
    const std::vector<std::pair<QString, QString>> cases{
        {"https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com", account},
        {"https://0123456789ABCDEF0123456789ABCDEF.R2.CloudflareStorage.com/", account},
        {"https://0123456789abcdef0123456789abcdef.eu.r2.cloudflarestorage.com/bucket?x=1", account},
        {"http://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com:8443", account},
    };
    for (const auto &[endpoint, expected] : cases)
        EXPECT_EQ(ShareWorkerDeploy::accountID(endpoint), expected) << endpoint.toStdString();
}

TEST(ShareWorkerDeployTest, AnythingElseHasNoAccountID)
{
    const QStringList endpoints{
        "",
        "not a url",
        "0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com", // no scheme, so no host
        "https://r2.cloudflarestorage.com",
        "https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com.evil.example",
        "https://0123456789abcdef0123456789abcdef.xr2.cloudflarestorage.com",
        "https://0123456789abcdef0123456789abcdef.s3.amazonaws.com",
        "https://0123456789abcdef0123456789abcde.r2.cloudflarestorage.com",   // 31 digits
        "https://0123456789abcdef0123456789abcdef0.r2.cloudflarestorage.com", // 33 digits
        "https://0123456789abcdef0123456789abcdeg.r2.cloudflarestorage.com",  // not hex
    };
    for (const QString &endpoint : endpoints) {
        SCOPED_TRACE(endpoint.toStdString());
        try {
            ShareWorkerDeploy::accountID(endpoint);
            ADD_FAILURE() << "no error";
        } catch (const ShareWorkerDeploy::Failure &failure) {
            EXPECT_EQ(failure, ShareWorkerDeploy::Failure::noAccountID);
        }
    }
}

} // namespace
