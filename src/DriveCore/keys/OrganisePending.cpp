#include "DriveCore/keys/OrganisePending.h"

#include "DriveCore/platform/UserDefaults.h"
#include "KeepShared/TextTable.h"

namespace DriveCore {

namespace {

constexpr KeepShared::TextTable<OrganiseKind::Value, 2> kindTexts({"newDrive", "existingDrive"});

} // namespace

QString OrganiseKind::rawValue() const
{
    const std::string_view text = kindTexts.text(m_value);
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

std::optional<OrganiseKind> OrganiseKind::fromRawValue(const QString &text)
{
    if (const std::optional<Value> value = kindTexts.value(text.toStdString()))
        return OrganiseKind(*value);
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
