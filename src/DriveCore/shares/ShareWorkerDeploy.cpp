#include "DriveCore/shares/ShareWorkerDeploy.h"

#include "DriveCore/support/Hex.h"

#include <QUrl>

namespace DriveCore::ShareWorkerDeploy {

Failure::Failure(Case value) : std::runtime_error("noAccountID"), value(value) {}

QString accountID(const QString &endpoint)
{
    const QUrl url(endpoint, QUrl::StrictMode);
    const QString host = url.host().toLower();
    if (!url.isValid() || !host.endsWith(u'.' + QLatin1String(r2EndpointDomain)))
        throw Failure(Failure::noAccountID);
    const QString first = host.split(u'.', Qt::SkipEmptyParts).value(0);
    if (first.size() != 32 || !Hex::isDigits(first))
        throw Failure(Failure::noAccountID);
    return first;
}

} // namespace DriveCore::ShareWorkerDeploy
