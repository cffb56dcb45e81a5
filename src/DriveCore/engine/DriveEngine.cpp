#include "DriveCore/engine/DriveEngine.h"

#include "DriveCore/platform/UserDefaults.h"
#include "KeepShared/TextTable.h"

namespace DriveCore {

namespace {

constexpr KeepShared::TextTable<DriveEngine::Value, 2> engineTexts({"nfs", "fskit"});

} // namespace

QString DriveEngine::rawValue() const
{
    const std::string_view text = engineTexts.text(m_value);
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
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
