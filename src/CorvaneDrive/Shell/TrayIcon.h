#pragma once

#include "CorvaneDrive/Shell/MenuBarLabel.h"
#include "CorvaneDrive/Shell/MenuFeed.h"

#include <QObject>
#include <QPointer>

class QIcon;
class QMenu;
class QSystemTrayIcon;

namespace CorvaneDrive {

// The icon in the desktop's tray, with the menu under it. Made only once a tray is there
// (show()), since the toolkit decides once per process which kind of tray icon to make; from
// then on the icon, the tooltip and the menu follow the label and the feed at all times, as a
// tray shows the menu without asking first. Main thread.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    TrayIcon(MenuBarLabel *label, MenuFeed *feed, QObject *parent = nullptr);
    ~TrayIcon() override;

    // Makes the icon when it is not there yet, and shows it. Clicking the icon opens the menu too
    // (a panel turns a left click into the item's activation).
    void show();
    void hide();
    bool isShown() const;
    QMenu *menu() const { return m_menu; }
    // The icon once made.
    QSystemTrayIcon *icon() const { return m_icon; }

    // The icon named `name` in the desktop's icon theme, else the copy built into the program,
    // so that the tray is never empty where the theme lacks it.
    static QIcon face(const QString &name);

    // Fills `menu` with the rows; a chosen entry's action runs once the menu has closed.
    static void render(QMenu *menu, const QList<MenuContent::Row> &rows, MenuFeed *feed);
    // Whether `rows` would give the entries `menu` holds (kinds and actions, in order), so that
    // only their titles, shortcuts and enabled states need changing.
    static bool sameEntries(QMenu *menu, const QList<MenuContent::Row> &rows);
    // Changes the titles, shortcuts and enabled states of the entries in place.
    static void update(QMenu *menu, const QList<MenuContent::Row> &rows);

private:
    void updateFace();
    // While the menu is open, rows are changed in place and none is added or removed, so that
    // nothing moves under the pointer or the keyboard; the rest waits until it closes.
    void updateMenu();

    QPointer<MenuBarLabel> m_label;
    QPointer<MenuFeed> m_feed;
    QMenu *m_menu;
    QSystemTrayIcon *m_icon = nullptr;
    bool m_menuOpen = false;
    bool m_rebuildWhenClosed = false;
};

} // namespace CorvaneDrive
