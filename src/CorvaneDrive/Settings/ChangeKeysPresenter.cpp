#include "CorvaneDrive/Settings/ChangeKeysPresenter.h"

namespace CorvaneDrive {

bool ChangeKeysPresenter::canSave() const
{
    if (working || endpoint.isEmpty() || bucket.isEmpty())
        return false;
    return useCloudflareKey ? !cloudflareKey.isEmpty() : !accessKeyID.isEmpty() && !secretAccessKey.isEmpty();
}

DriveCore::StorageSecrets ChangeKeysPresenter::secrets() const
{
    return {.endpoint = endpoint.trimmed(),
            .bucket = bucket.trimmed(),
            .accessKeyID = accessKeyID.trimmed(),
            .secretAccessKey = secretAccessKey.trimmed()};
}

} // namespace CorvaneDrive
