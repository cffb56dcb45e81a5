#pragma once

#include <glib.h>

// The plug-in's log: GLib's structured log (the journal, or standard error), in the domain
// "com.corvane.drive.finder" with the category "keep".
namespace OvraFinder::FinderLog {

inline constexpr const char *domain = "com.corvane.drive.finder";
inline constexpr const char *category = "keep";

void info(const char *format, ...) G_GNUC_PRINTF(1, 2);
void warning(const char *format, ...) G_GNUC_PRINTF(1, 2);

} // namespace OvraFinder::FinderLog
