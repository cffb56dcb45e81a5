#include "CorvaneDrive/Setup/NameAndCachePresenter.h"

namespace CorvaneDrive {

QString NameAndCachePresenter::appearsText(const QString &driveName)
{
    return QStringLiteral("It will appear in your file manager as “%1”.").arg(driveName);
}

QString NameAndCachePresenter::cacheText(qint64 gb)
{
    return QStringLiteral("Space on this computer for recently opened files: %1 GB").arg(gb);
}

QString NameAndCachePresenter::sliderLabel(qint64 gb)
{
    return QStringLiteral("%1 GB").arg(gb);
}

bool NameAndCachePresenter::showsSlider(qint64 maxCacheGB)
{
    return maxCacheGB > minCacheGB;
}

} // namespace CorvaneDrive
