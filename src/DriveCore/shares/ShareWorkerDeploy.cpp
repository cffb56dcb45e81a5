#include "DriveCore/shares/ShareWorkerDeploy.h"

#include <QUrl>

#include <algorithm>

namespace DriveCore::ShareWorkerDeploy {

namespace {

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

} // namespace

Failure::Failure(Case value) : std::runtime_error("noAccountID"), value(value) {}

QString accountID(const QString &endpoint)
{
    const QUrl url(endpoint, QUrl::StrictMode);
    const QString host = url.host().toLower();
    if (!url.isValid() || !host.endsWith(u'.' + QLatin1String(r2EndpointDomain)))
        throw Failure(Failure::noAccountID);
    const QString first = host.split(u'.', Qt::SkipEmptyParts).value(0);
    const bool hex = std::all_of(first.begin(), first.end(), isHexDigit);
    if (first.size() != 32 || !hex)
        throw Failure(Failure::noAccountID);
    return first;
}

} // namespace DriveCore::ShareWorkerDeploy
