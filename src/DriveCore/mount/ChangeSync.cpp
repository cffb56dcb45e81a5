#include "DriveCore/mount/ChangeSync.h"

#include <QStringList>

namespace DriveCore {

QString ChangeSync::parent(const QString &path)
{
    QStringList pieces = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (!pieces.isEmpty())
        pieces.removeLast();
    return pieces.join(QLatin1Char('/'));
}

} // namespace DriveCore
