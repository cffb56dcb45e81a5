#include "DriveCore/shares/ShareWorkerConfig.h"

namespace DriveCore {

bool ShareWorkerConfig::isOutdated(const QString &currentVersion, qint64 currentBuild) const
{
    return version != currentVersion && appBuild.value_or(0) < currentBuild;
}

} // namespace DriveCore
