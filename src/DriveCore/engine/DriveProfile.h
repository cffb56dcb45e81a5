#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace DriveCore::DriveProfile {

// The profile named by "-OvraProfile <name>" on this process's command line, read once.
const std::optional<QString> &current();

// The profile in an argument list: the value after the first "-OvraProfile", lower-cased,
// 1 to 16 ASCII letters or digits; anything else is no profile.
std::optional<QString> parse(const QStringList &arguments);

// "com.corvane.drive.<p>", or none for the standard suite.
std::optional<QString> defaultsSuite(const std::optional<QString> &profile);
// "com.corvane.drive" or "com.corvane.drive.<p>".
QString keychainService(const std::optional<QString> &profile);
// "CorvaneDrive" or "CorvaneDrive-<p>": the application's folder name.
QString applicationFolder(const std::optional<QString> &profile);

} // namespace DriveCore::DriveProfile
