#pragma once

#include <QDBusConnection>
#include <QList>
#include <QUrl>

#include <functional>

// The desktop's file manager, reached through its freedesktop interface on the session bus.
namespace DriveCore::FileManager {

inline constexpr const char *service = "org.freedesktop.FileManager1";
inline constexpr const char *path = "/org/freedesktop/FileManager1";
inline constexpr const char *interface = "org.freedesktop.FileManager1";

// Asks the file manager to open the folders of `items` with the items selected
// (ShowItems). Returns at once; a file manager that does not answer or refuses is logged, and
// then `unanswered` runs on the calling thread. Nothing is sent for no items.
void showItems(const QList<QUrl> &items, const QDBusConnection &bus = QDBusConnection::sessionBus(),
               std::function<void()> unanswered = {});

} // namespace DriveCore::FileManager
