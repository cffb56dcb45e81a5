#include "CorvaneDrive/Setup/StoragePresenter.h"

#include "DriveCore/shares/ShareWorkerDeploy.h"

namespace CorvaneDrive {

using DriveCore::SetupState;

namespace {

QString r2Domain() { return QString::fromLatin1(DriveCore::ShareWorkerDeploy::r2EndpointDomain); }

const QString storedInR2 = QStringLiteral("Your files are stored in your own Cloudflare R2 account:");

} // namespace

QString StoragePresenter::shortR2Address() { return QStringLiteral("https://….") + r2Domain(); }

QString StoragePresenter::endpointPlaceholder() { return QStringLiteral("https://<account id>.") + r2Domain(); }

StoragePresenter::Face StoragePresenter::face(const SetupState &state)
{
    const bool existing = state.step().existing;
    Face face;
    face.showsEntryPicker = existing;
    face.body = existing && state.storageEntry() == SetupState::StorageEntry::recoveryKit ? Body::recoveryKit
                                                                                         : Body::manual;
    face.showsCloudflareKey = state.useCloudflareKey();
    if (state.useCloudflareKey())
        face.explanation = Explanation::cloudflareKeyInstructions;
    else
        face.explanation = existing ? Explanation::existingDriveLine : Explanation::r2Instructions;
    return face;
}

StoragePresenter::Panel StoragePresenter::cloudflareKeyInstructions()
{
    return {
        {
            storedInR2,
            QStringLiteral("1. In Cloudflare, open R2 and create a bucket (any name, e.g. \"my-drive\"). Copy the S3 API "
                           "address (")
                + shortR2Address() + QStringLiteral(") from the R2 overview."),
            QStringLiteral("2. Open Manage Account → Account API Tokens → Create Token. Pick \"Edit Cloudflare Workers\", "
                           "open its account policy, make sure \"Workers R2 Storage\" has Edit ticked, tick \"Account "
                           "Analytics\" Read, then Review token → Create token."),
            QStringLiteral("3. Paste the address, the bucket name and the API token below. The same token lets Ovra set "
                           "up your share links later."),
        },
        QStringLiteral("Use a Cloudflare account just for Ovra: this token can reach every bucket in the account."),
        openCloudflareTitle,
        dashboardURL,
    };
}

StoragePresenter::Panel StoragePresenter::r2Instructions()
{
    return {
        {
            storedInR2,
            QStringLiteral("1. In Cloudflare, open R2 and create a bucket (any name, e.g. \"my-drive\")."),
            QStringLiteral("2. In R2, choose Manage API Tokens → Create Account API Token. Pick \"Object Read & Write\" "
                           "and apply it to this bucket only."),
            QStringLiteral("3. Copy the Access Key ID, Secret Access Key and the endpoint (") + shortR2Address()
                + QStringLiteral(") into the boxes below."),
        },
        std::nullopt,
        openCloudflareTitle,
        dashboardURL,
    };
}

} // namespace CorvaneDrive
