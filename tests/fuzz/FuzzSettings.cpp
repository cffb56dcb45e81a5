// The settings file and what is kept in it. Field 0 "file": field 1 is the whole file, read by
// UserDefaults, whose values keep their types, and the drive settings in it. Field 0 "drive":
// field 1 is the drive settings' JSON, which reads back the same after writing. Field 0
// "device": field 1 is a device id text.
#include "Fuzz.h"

#include "DriveCore/engine/DriveSettings.h"
#include "DriveCore/platform/UserDefaults.h"

#include <QFile>
#include <QTemporaryDir>

using namespace DriveCore;

namespace {

QString settingsFile()
{
    static const QTemporaryDir folder; // removed at exit
    return folder.filePath(QStringLiteral("settings.json"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> input = Fuzz::fields(data, size, 2);
    if (input[0] == "file") {
        QFile file(settingsFile());
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(input[1]) == input[1].size());
        file.close();
        const UserDefaults defaults(settingsFile());
        for (const QString &key : {QString::fromLatin1(DriveSettings::defaultsKey), QStringLiteral("a")}) {
            // A value has one type: read as any other, it is nothing.
            const int types = int(defaults.data(key).has_value()) + int(defaults.string(key).has_value())
                + int(defaults.boolean(key).has_value()) + int(defaults.integer(key).has_value());
            FUZZ_CHECK(types <= 1);
        }
        if (const std::optional<DriveSettings> settings = DriveSettings::load(defaults))
            FUZZ_CHECK(DriveSettings::fromJson(settings->toJson()) == settings);
    } else if (input[0] == "drive") {
        if (const std::optional<DriveSettings> settings = DriveSettings::fromJson(input[1]))
            FUZZ_CHECK(DriveSettings::fromJson(settings->toJson()) == settings);
    } else if (input[0] == "device") {
        if (const std::optional<QUuid> id = DriveSettings::parseDeviceID(Fuzz::text(input[1])))
            FUZZ_CHECK(DriveSettings::parseDeviceID(DriveSettings::deviceIDText(*id)) == id);
    }
    return 0;
}
