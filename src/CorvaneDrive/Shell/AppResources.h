#pragma once

#include <QString>

#include <optional>

namespace CorvaneDrive {

// Where the application's own files are: beside the program, as installed
// (<prefix>/share/corvane-drive/... and <prefix>/share/icons for a program in <prefix>/bin). A
// build folder is laid out the same way (<build>/bin, <build>/share), wherever it is, so one
// lookup serves an installed program and one run from its build folder.
namespace AppResources {

// The folder above the folder of `executable`.
QString prefix(const QString &executable);

// <prefix>/share/corvane-drive/<name>, whether or not it exists (an installation that lacks it
// is named in the start-up log).
QString dataFolder(const QString &executable, const QString &name);

// <prefix>/share/icons when it holds the tray icon; none otherwise (the desktop's icon theme
// then has to have it, else the tray shows the built-in copy).
std::optional<QString> iconFolder(const QString &executable);

// For this process.
QString shareWorkerFolder();
QString helpFolder();
// The page that tells how to make the file-system layer usable.
QString fileSystemHelpPage();
// The page on turning on the file-manager plug-in.
QString addOnHelpPage();
std::optional<QString> iconFolder();

} // namespace AppResources

} // namespace CorvaneDrive
