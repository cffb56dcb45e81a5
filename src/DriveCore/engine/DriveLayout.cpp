#include "DriveCore/engine/DriveLayout.h"

#include "DriveCore/engine/DriveProfile.h"
#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/platform/StandardFolders.h"

namespace DriveCore {

namespace {

QString applicationData(const std::optional<QString> &profile)
{
    return StandardFolders::dataHome() + u'/' + DriveProfile::applicationFolder(profile);
}

} // namespace

QString DriveLayout::mountPath(const QString &driveName)
{
    return StandardFolders::home() + QStringLiteral("/Mounts/") + driveName;
}

QString DriveLayout::cacheDir(const QUuid &deviceID, const std::optional<QString> &profile)
{
    return applicationData(profile) + QStringLiteral("/Cache/") + DriveSettings::deviceIDText(deviceID);
}

QString DriveLayout::cacheDir(const QUuid &deviceID)
{
    return cacheDir(deviceID, DriveProfile::current());
}

QString DriveLayout::backingPath(const QUuid &deviceID, const std::optional<QString> &profile)
{
    return applicationData(profile) + QStringLiteral("/Backing/") + DriveSettings::deviceIDText(deviceID);
}

QString DriveLayout::backingPath(const QUuid &deviceID)
{
    return backingPath(deviceID, DriveProfile::current());
}

QString DriveLayout::keepDir(const std::optional<QString> &profile)
{
    return applicationData(profile) + QStringLiteral("/Keep");
}

QString DriveLayout::keepDir()
{
    return keepDir(DriveProfile::current());
}

QString DriveLayout::pinFile(const QUuid &deviceID)
{
    return keepDir() + u'/' + DriveSettings::deviceIDText(deviceID) + QStringLiteral(".json");
}

QString DriveLayout::logDir()
{
    return StandardFolders::stateHome() + u'/' + DriveProfile::applicationFolder(DriveProfile::current());
}

QString DriveLayout::logFile()
{
    return logDir() + QStringLiteral("/rclone.log");
}

QString DriveLayout::dateFolder(const QDateTime &date, const QTimeZone &zone)
{
    // QDate is proleptic Gregorian.
    const QDate day = date.toTimeZone(zone).date();
    return QString::asprintf("%04d-%02d-%02d", day.year(), day.month(), day.day());
}

} // namespace DriveCore
