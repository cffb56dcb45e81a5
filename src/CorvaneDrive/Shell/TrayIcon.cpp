#include "CorvaneDrive/Shell/TrayIcon.h"

#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

namespace CorvaneDrive {

using MenuContent::Row;

TrayIcon::TrayIcon(MenuBarLabel *label, MenuFeed *feed, QObject *parent)
    : QObject(parent), m_label(label), m_feed(feed), m_menu(new QMenu)
{
    if (label)
        connect(label, &MenuBarLabel::faceChanged, this, &TrayIcon::updateFace);
    connect(feed, &MenuFeed::changed, this, &TrayIcon::updateMenu);
    updateMenu();
}

TrayIcon::~TrayIcon()
{
    delete m_icon;
    delete m_menu;
}

void TrayIcon::show()
{
    if (!m_icon) {
        m_icon = new QSystemTrayIcon(this);
        m_icon->setContextMenu(m_menu);
        updateFace();
    }
    m_icon->show();
}

void TrayIcon::hide()
{
    if (m_icon)
        m_icon->hide();
}

bool TrayIcon::isShown() const
{
    return m_icon && m_icon->isVisible();
}

QIcon TrayIcon::face(const QString &name)
{
    return QIcon::fromTheme(name, QIcon(QStringLiteral(":/tray/") + name + QStringLiteral(".svg")));
}

void TrayIcon::render(QMenu *menu, const QList<Row> &rows, MenuFeed *feed)
{
    menu->clear();
    for (const Row &row : rows) {
        if (row.kind == Row::separator) {
            menu->addSeparator();
            continue;
        }
        QAction *action = menu->addAction(row.title);
        action->setEnabled(row.kind == Row::button && row.enabled);
        action->setShortcut(row.shortcut);
        if (row.kind != Row::button)
            continue;
        const MenuContent::Action chosen = row.action;
        QPointer<MenuFeed> target(feed);
        QObject::connect(action, &QAction::triggered, menu, [target, chosen] {
            // Once the menu is gone: the action may open a modal dialog or change these rows.
            QMetaObject::invokeMethod(
                target,
                [target, chosen] {
                    if (target)
                        target->perform(chosen);
                },
                Qt::QueuedConnection);
        });
    }
}

void TrayIcon::updateFace()
{
    if (!m_icon || !m_label)
        return;
    m_icon->setIcon(face(m_label->iconName()));
    m_icon->setToolTip(m_label->toolTip());
}

void TrayIcon::updateMenu()
{
    if (m_feed)
        render(m_menu, m_feed->rows(), m_feed);
}

} // namespace CorvaneDrive
