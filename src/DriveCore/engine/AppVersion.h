#pragma once

#include <QString>
#include <QVariantMap>

#include <optional>

namespace DriveCore::AppVersion {

// "Ovra <short version>" from the application's information list, when it has one.
std::optional<QString> menuLine(const std::optional<QVariantMap> &info);

} // namespace DriveCore::AppVersion
