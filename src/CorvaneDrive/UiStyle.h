#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QWidget;

// The window texts' looks, shared by every window so that they read alike: sizes relative to the
// desktop's own body font, colours from its palette where it has a role for them.
namespace CorvaneDrive::UiStyle {

// A window heading: title size, bold.
void heading(QWidget *widget);
// A screen title (the second title size), bold.
void title2(QWidget *widget);
// Body size, bold.
void headline(QWidget *widget);
// The small notes' size.
void callout(QWidget *widget);
// The smallest size, for technical details.
void caption(QWidget *widget);
// Monospaced at the body size.
void monospaced(QWidget *widget);
// Dimmed text for waiting and explanatory lines.
void secondary(QWidget *widget);
// Orange text for a failure.
void failure(QWidget *widget);
// The orange of failure texts, readable on light and dark backgrounds.
QColor orange();

// A label that wraps over as many lines as it needs across the full width.
QLabel *wrappingLabel(const QString &text, QWidget *parent = nullptr);
// Text that can be selected and copied with the mouse and the keyboard.
void selectable(QLabel *label);

// A freedesktop icon from the desktop's theme, or its symbolic form where the theme has only
// that. Without a theme of the desktop's own, Adwaita's.
QIcon icon(const QString &name);

// Two choices side by side with no label of their own, one of them on at a time.
QWidget *segments(QRadioButton *first, QRadioButton *second, QWidget *parent);

// The small indicator beside a button or a line while work runs.
QProgressBar *busyIndicator(QWidget *parent);

// Return or Enter anywhere in `window` presses `button` while it can be pressed. The button is drawn as the default
// one. Widgets that use Return themselves (a multi-line text field) keep it. Replacing the button moves the role.
void setDefaultButton(QWidget *window, QPushButton *button);

} // namespace CorvaneDrive::UiStyle
