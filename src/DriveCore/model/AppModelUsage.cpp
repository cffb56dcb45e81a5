// The figures behind the storage settings: what the drive stores in the bucket, measured
// through the running engine, and what Cloudflare counted this month. Nothing is kept here;
// every call measures or fetches afresh.
#include "DriveCore/model/AppModel.h"

#include "DriveCore/engine/DriveLayout.h"
#include "DriveCore/shares/ShareWorkerDeploy.h"
#include "DriveCore/support/AppModelError.h"

namespace DriveCore {

QCoro::Task<StorageUsage> AppModel::loadStorageUsage(CancelToken token)
{
    const RCClient rc = requireRC();
    const ActionToken cancel(token, lifetime());
    co_return co_await guarded(
        StorageUsage::measure(rc, QString::fromLatin1(DriveLayout::cryptRemote), cancel.token()));
}

QCoro::Task<std::optional<R2MonthUsage>> AppModel::loadCloudflareUsage(HTTPSend send, CancelToken token)
{
    const std::shared_ptr<SecretStoring> secrets = m_secrets;
    const std::optional<std::pair<StorageSecrets, QString>> keys = co_await guarded(secrets->load());
    if (!keys)
        co_return std::nullopt;
    const std::optional<QString> cloudflareKey = co_await guarded(secrets->loadCloudflareKey());
    if (!cloudflareKey)
        co_return std::nullopt;
    QString accountID;
    try {
        accountID = ShareWorkerDeploy::accountID(keys->first.endpoint);
    } catch (const ShareWorkerDeploy::Failure &) {
        // Storage that isn't R2 has no Cloudflare figures to show.
        co_return std::nullopt;
    }
    const ActionToken cancel(token, lifetime());
    try {
        co_return co_await guarded(CloudflareBill::fetch(accountID, *cloudflareKey, m_hooks.now(), std::move(send),
                                                         CloudflareBill::endpoint(), cancel.token()));
    } catch (const CloudflareBill::Failure &failure) {
        if (failure.value == CloudflareBill::Failure::notAllowed)
            throw AppModelError(CloudflareBill::notAllowedText);
        throw AppModelError(cloudflareNoFiguresPrefix + failure.text);
    }
}

} // namespace DriveCore
