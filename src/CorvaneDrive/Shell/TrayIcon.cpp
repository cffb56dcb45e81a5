#include "CorvaneDrive/Shell/TrayIcon.h"

#include <QCursor>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

namespace CorvaneDrive {

using MenuContent::Row;

namespace {

// What an entry is, whatever its title says: a text line, or the button of one action.
int entryKey(const Row &row)
{
    return row.kind == Row::button ? 1 + int(row.action) : 0;
}

} // namespace

TrayIcon::TrayIcon(MenuBarLabel *label, MenuFeed *feed, QObject *parent)
    : QObject(parent), m_label(label), m_feed(feed), m_menu(new QMenu)
{
    if (label)
        connect(label, &MenuBarLabel::faceChanged, this, &TrayIcon::updateFace);
    connect(feed, &MenuFeed::changed, this, &TrayIcon::updateMenu);
    // A panel that shows the menu itself reports its opening and closing through these too.
    connect(m_menu, &QMenu::aboutToShow, this, [this] { m_menuOpen = true; });
    connect(m_menu, &QMenu::aboutToHide, this, [this] {
        m_menuOpen = false;
        if (!m_rebuildWhenClosed)
            return;
        // After the hide is over: a chosen entry's action is still on its way.
        QMetaObject::invokeMethod(this, &TrayIcon::updateMenu, Qt::QueuedConnection);
    });
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
        connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason != QSystemTrayIcon::Trigger || m_menu->isVisible())
                return;
            const QRect place = m_icon->geometry();
            m_menu->popup(place.isValid() ? place.bottomLeft() : QCursor::pos());
        });
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
        action->setData(entryKey(row));
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

bool TrayIcon::sameEntries(QMenu *menu, const QList<Row> &rows)
{
    const QList<QAction *> actions = menu->actions();
    if (actions.size() != rows.size())
        return false;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const Row &row = rows[i];
        QAction *action = actions[i];
        if (action->isSeparator() != (row.kind == Row::separator))
            return false;
        if (row.kind != Row::separator && action->data() != QVariant::fromValue(entryKey(row)))
            return false;
    }
    return true;
}

void TrayIcon::update(QMenu *menu, const QList<Row> &rows)
{
    const QList<QAction *> actions = menu->actions();
    for (qsizetype i = 0; i < rows.size() && i < actions.size(); ++i) {
        const Row &row = rows[i];
        if (row.kind == Row::separator)
            continue;
        QAction *action = actions[i];
        if (action->text() != row.title)
            action->setText(row.title);
        action->setEnabled(row.kind == Row::button && row.enabled);
        if (action->shortcut() != row.shortcut)
            action->setShortcut(row.shortcut);
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
    if (!m_feed)
        return;
    const QList<Row> rows = m_feed->rows();
    if (sameEntries(m_menu, rows)) {
        update(m_menu, rows);
        return;
    }
    if (m_menuOpen || m_menu->isVisible()) {
        m_rebuildWhenClosed = true;
        return;
    }
    m_rebuildWhenClosed = false;
    render(m_menu, rows, m_feed);
}

} // namespace CorvaneDrive
