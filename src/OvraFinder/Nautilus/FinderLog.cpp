#include "OvraFinder/Nautilus/FinderLog.h"

#include <cstdarg>

namespace OvraFinder::FinderLog {

namespace {

void write(GLogLevelFlags level, const char *format, va_list arguments)
{
    gchar *message = g_strdup_vprintf(format, arguments);
    g_log_structured(domain, level, "CORVANE_CATEGORY", category, "MESSAGE", "%s", message);
    g_free(message);
}

} // namespace

void info(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    write(G_LOG_LEVEL_INFO, format, arguments);
    va_end(arguments);
}

void warning(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    write(G_LOG_LEVEL_WARNING, format, arguments);
    va_end(arguments);
}

} // namespace OvraFinder::FinderLog
