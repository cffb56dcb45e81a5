#include "DriveCore/engine/AppVersion.h"

namespace DriveCore {

std::optional<QString> AppVersion::menuLine(const std::optional<QVariantMap> &info)
{
    if (!info)
        return std::nullopt;
    const QVariant value = info->value(QStringLiteral("CFBundleShortVersionString"));
    if (value.typeId() != QMetaType::QString || value.toString().isEmpty())
        return std::nullopt;
    return QStringLiteral("Ovra ") + value.toString();
}

} // namespace DriveCore
