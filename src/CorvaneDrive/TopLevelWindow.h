#pragma once

class QWidget;

// What every top-level window of the application shares with the desktop around it.
namespace CorvaneDrive::TopLevelWindow {

// Screen readers announce a window by its role. The toolkit gives a window made from a plain
// widget the role of a filler; from this call on, such a window reports "frame" (or "dialog"
// when it is made as a dialog), as the toolkit's own dialogs and main windows do. Needs the
// application object; later calls do nothing.
void announceRoles();

// Moves `window` so that its frame sits in the middle of the screen the pointer is on (else the
// primary screen), for a window opening for the first time.
void centre(QWidget *window);

} // namespace CorvaneDrive::TopLevelWindow
