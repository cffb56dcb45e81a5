#pragma once

#include "DriveCore/support/UserTextError.h"

#include <QString>

#include <optional>

namespace DriveCore {

// Starting the application at login: an XDG autostart entry in ~/.config/autostart. Each
// profile has an entry of its own ("com.corvane.drive.<profile>.desktop") that starts the
// application with that profile, so a second drive's switch is as true as the first's.
namespace LoginItem {

// The entry could not be written or removed; the text names the file and the cause.
using Failure = UserTextError<struct LoginItemFailureTag>;

// $XDG_CONFIG_HOME/autostart/com.corvane.drive[.<profile>].desktop
QString entryPath(const std::optional<QString> &profile);
// The entry's text for the program, with "-OvraProfile <profile>" when a profile is given,
// each quoted and escaped as desktop entries require. Throws Failure when either holds a
// control character other than tab, newline and carriage return: an entry cannot hold it.
QByteArray entry(const QString &program, const std::optional<QString> &profile);
// Writes the entry (on) or removes it (off; a missing entry is fine). Throws Failure.
void set(bool on, const QString &program, const std::optional<QString> &profile);

} // namespace LoginItem

} // namespace DriveCore
