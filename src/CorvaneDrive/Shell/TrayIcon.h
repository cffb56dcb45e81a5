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

    // Makes the icon when it is not there yet, and shows it.
    void show();
    void hide();
    bool isShown() const;
    QMenu *menu() const { return m_menu; }

    // The icon named `name` in the desktop's icon theme, else the copy built into the program,
    // so that the tray is never empty where the theme lacks it.
    static QIcon face(const QString &name);

    // Fills `menu` with the rows; a chosen entry's action runs once the menu has closed.
    static void render(QMenu *menu, const QList<MenuContent::Row> &rows, MenuFeed *feed);

private:
    void updateFace();
    void updateMenu();

    QPointer<MenuBarLabel> m_label;
    QPointer<MenuFeed> m_feed;
    QMenu *m_menu;
    QSystemTrayIcon *m_icon = nullptr;
};

} // namespace CorvaneDrive
