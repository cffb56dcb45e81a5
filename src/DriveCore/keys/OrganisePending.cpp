#include "DriveCore/keys/OrganisePending.h"

#include "DriveCore/platform/UserDefaults.h"

namespace DriveCore {

QString OrganiseKind::rawValue() const
{
    return m_value == newDrive ? QStringLiteral("newDrive") : QStringLiteral("existingDrive");
}

std::optional<OrganiseKind> OrganiseKind::fromRawValue(const QString &text)
{
    for (const Value value : allCases) {
        if (OrganiseKind(value).rawValue() == text)
            return OrganiseKind(value);
    }
    return std::nullopt;
}

std::optional<OrganiseKind> OrganisePending::load(const UserDefaults &defaults)
{
    const std::optional<QString> text = defaults.string(QString::fromLatin1(defaultsKey));
    return text ? OrganiseKind::fromRawValue(*text) : std::nullopt;
}

void OrganisePending::save(std::optional<OrganiseKind> kind, UserDefaults &defaults)
{
    if (kind)
        defaults.set(QString::fromLatin1(defaultsKey), kind->rawValue());
    else
        defaults.remove(QString::fromLatin1(defaultsKey));
}

} // namespace DriveCore
