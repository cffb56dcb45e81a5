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
    static inline const QString hintText =
        QStringLiteral("Your desktop shows no system tray, so Ovra's menu is here. On a desktop with a system tray, "
                       "Ovra's icon is there instead.");
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
