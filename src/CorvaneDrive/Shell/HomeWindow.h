#pragma once

#include "CorvaneDrive/Shell/MenuFeed.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QVBoxLayout;

namespace CorvaneDrive {

// The window that stands in for the tray menu where there is no tray, or where the user
// cannot find the icon ("Ovra"): the same rows as link-like buttons in a 320-wide column, a
// divider and the hint. Sized to its content; follows the menu as it changes.
class HomeWindow : public QWidget {
    Q_OBJECT
public:
    static inline const QString hintText = QStringLiteral(
        "Can't see Ovra's icon in the menu bar? It's hidden when the menu bar is full. Quit an app you don't need "
        "from the menu bar to make room.");
    static constexpr int columnWidth = 320;
    static constexpr int padding = 20;
    static constexpr int spacing = 8;

    explicit HomeWindow(MenuFeed *feed, QWidget *parent = nullptr);

    // The rendered entries, for tests: the widget showing the row of `title`, if any.
    QWidget *entry(const QString &title) const;

private:
    void render();

    QPointer<MenuFeed> m_feed;
    QWidget *m_rows;
    QVBoxLayout *m_rowsColumn;
};

} // namespace CorvaneDrive
