#pragma once

#include <gio/gio.h>
#include <glib-object.h>

// The library's header declares the module entry points without C linkage, while a module must
// define them with it; GLib's own headers are already in, so only Nautilus's land in this block.
extern "C" {
#include <nautilus-extension.h>
}
