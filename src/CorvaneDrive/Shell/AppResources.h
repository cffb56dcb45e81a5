#pragma once

#include <QString>

#include <optional>

namespace CorvaneDrive {

// Where the application's own files are: installed beside the program
// (<prefix>/share/corvane-drive/... for a program in <prefix>/bin), or, in a development build
// that runs from inside the source tree, the source tree's own folders.
namespace AppResources {

// The source tree above `executable`'s folder (a folder holding src/CorvaneDrive/CMakeLists.txt),
// if any. The root is never searched.
std::optional<QString> sourceTree(const QString &executable);

// The installed folder <prefix>/share/corvane-drive/<name> when it exists, else the source
// tree's `sourceFolder`, else the installed path (which then does not exist).
QString dataFolder(const QString &executable, const QString &name, const QString &sourceFolder);

// For this process.
QString shareWorkerFolder();
QString helpFolder();
// The page that tells how to make the file-system layer usable.
QString fileSystemHelpPage();
// The page on turning on the file-manager plug-in.
QString addOnHelpPage();
// Where the tray icons are when they are not installed in the icon theme yet; none when installed.
std::optional<QString> developmentIconFolder();

} // namespace AppResources

} // namespace CorvaneDrive
