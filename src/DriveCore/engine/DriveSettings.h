#pragma once

#include <QByteArray>
#include <QString>
#include <QUuid>

#include <optional>

namespace DriveCore {

class UserDefaults;

// The per-computer drive settings, stored as JSON under "driveSettings".
struct DriveSettings {
    static constexpr const char *defaultsKey = "driveSettings";

    QString driveName;
    qint64 cacheGB = 30; // whole decimal gigabytes
    QUuid deviceID;
    QString deviceName;
    bool startAtLogin = true;

    bool operator==(const DriveSettings &) const = default;

    // One object with the five field names as keys; all are required when reading.
    QByteArray toJson() const;
    static std::optional<DriveSettings> fromJson(const QByteArray &json);

    // Nothing when the key holds no data or data that does not decode.
    static std::optional<DriveSettings> load(const UserDefaults &defaults);
    void save(UserDefaults &defaults) const;

    // The largest cache, in whole decimal GB, that leaves 20 GB of `freeBytes` free; at least 1.
    static qint64 maxCacheGB(qint64 freeBytes);

    // The identifier's canonical text: 36 characters, upper-case hexadecimal, 8-4-4-4-12.
    static QString deviceIDText(const QUuid &id);
    // Reads that form (either case); anything else is none.
    static std::optional<QUuid> parseDeviceID(const QString &text);
};

} // namespace DriveCore
