#pragma once

#include <QFont>

class QWidget;

namespace TestSupport {

// Fails the running test for every visible label or button of `window` that is narrower or
// shorter than its text needs at the current font (a wrapping label: taller than its text at its
// width, and no word of it wider than the label), naming the widget and its text.
void expectTextsFit(QWidget &window);

// Fails the running test for every visible focusable widget of `window` that a screen reader
// would announce without a name, or by its placeholder alone.
void expectAccessibleNames(QWidget &window);

// The application font as a desktop sets it (DejaVu Sans at `points`) for the scope's life;
// the previous font comes back at its end.
class ScopedAppFont {
public:
    explicit ScopedAppFont(int points);
    ~ScopedAppFont();
    ScopedAppFont(const ScopedAppFont &) = delete;
    ScopedAppFont &operator=(const ScopedAppFont &) = delete;

private:
    QFont m_previous;
};

} // namespace TestSupport
