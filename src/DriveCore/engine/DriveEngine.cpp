#include "DriveCore/engine/DriveEngine.h"

#include "DriveCore/platform/UserDefaults.h"

namespace DriveCore {

QString DriveEngine::rawValue() const
{
    return m_value == nfs ? QStringLiteral("nfs") : QStringLiteral("fskit");
}

DriveEngine DriveEngine::load(const UserDefaults &defaults)
{
    return defaults.string(QString::fromLatin1(defaultsKey)) == QStringLiteral("nfs") ? nfs : fskit;
}

void DriveEngine::save(UserDefaults &defaults) const
{
    defaults.set(QString::fromLatin1(defaultsKey), rawValue());
}

} // namespace DriveCore
