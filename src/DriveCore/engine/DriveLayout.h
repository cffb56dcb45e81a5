#pragma once

#include <QDateTime>
#include <QString>
#include <QTimeZone>
#include <QUuid>

#include <optional>

namespace DriveCore::DriveLayout {

inline constexpr const char *remote = "drive"; // plain S3 remote
inline constexpr const char *cryptRemote = "drivecrypt"; // encrypting remote over `remote`
inline constexpr const char *filesFolder = "Drive";
inline constexpr const char *trashFolder = "Recently Deleted";
inline constexpr const char *metaFolder = ".corvane";

// ~/Mounts/<drive name>: the mount point.
QString mountPath(const QString &driveName);
// <data home>/<application folder>/Cache/<ID>
QString cacheDir(const QUuid &deviceID, const std::optional<QString> &profile);
QString cacheDir(const QUuid &deviceID);
// <data home>/<application folder>/Backing/<ID>: where the engine mounts under the file-system layer.
QString backingPath(const QUuid &deviceID, const std::optional<QString> &profile);
QString backingPath(const QUuid &deviceID);
// <data home>/<application folder>/Keep
QString keepDir(const std::optional<QString> &profile);
QString keepDir();
// <keep folder>/<ID>.json
QString pinFile(const QUuid &deviceID);
// <state home>/<application folder>: the engine's log folder, and the log in it.
QString logDir();
QString logFile();

// "YYYY-MM-DD" of the date in `zone`, always in the Gregorian calendar: the engine names the
// dated Recently Deleted folders that way whatever the user's locale.
QString dateFolder(const QDateTime &date, const QTimeZone &zone = QTimeZone::systemTimeZone());

} // namespace DriveCore::DriveLayout
