#pragma once

#include <QColor>
#include <QString>

class QLabel;
class QPushButton;
class QWidget;

// The few looks the share windows use, over the desktop's own widgets and palette: text styles,
// the secondary, orange and green colours, a small busy indicator, the default button and
// copying to the clipboard.
namespace ShareLook {

enum class Font { body, title, headline, callout, caption };
enum class Tone { primary, secondary, orange, green };

// A label with the style and tone; `wrap` lets it take its full height.
QLabel *label(const QString &text, Font font = Font::body, Tone tone = Tone::primary, bool wrap = true,
              QWidget *parent = nullptr);
void setFont(QLabel *label, Font font);
void setTone(QLabel *label, Tone tone);
QColor color(const QWidget *widget, Tone tone);

// The text with a break allowed between the characters of every word too long for a line
// (a file name without spaces, a path): a wrapping label then breaks it anywhere instead of
// running past its edge. Shorter words stay as they are.
QString breakable(const QString &text);
// Shows the text breakable in the label; a screen reader reads it as given.
void setBreakableText(QLabel *label, const QString &text);

// A small indeterminate progress indicator.
QWidget *spinner(QWidget *parent = nullptr);

// Gives the window a fixed width and keeps its height at what its layout needs at that width,
// so that wrapped texts take their full height and the window follows its content.
void fixWidth(QWidget *window, int width);

// Escape, Ctrl+W and the desktop's own close keys close the window.
void closeWithKeyboard(QWidget *window);

// Makes the button the window's default: drawn as such, and Return or Enter anywhere in its
// window clicks it while it is visible and enabled.
void makeDefault(QPushButton *button);
// Drawn as a destructive action.
void makeDestructive(QPushButton *button);

// Clears the clipboard, then writes the text alone as plain text, with no line end added.
void copy(const QString &text);

} // namespace ShareLook
