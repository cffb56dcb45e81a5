#include "CorvaneDrive/TopLevelWindow.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCursor>
#include <QScreen>
#include <QWidget>

namespace CorvaneDrive::TopLevelWindow {

namespace {

// Asked before the toolkit's own factory for each class of an object, most derived first. The
// class "QWidget" is reached only when no class below it has an interface of its own (labels,
// buttons, dialogs, menus): then a window takes the role of a window.
QAccessibleInterface *windowInterface(const QString &className, QObject *object)
{
    if (className != QLatin1String("QWidget") || !object || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    if (!widget->isWindow())
        return nullptr;
    switch (widget->windowType()) {
    case Qt::Window:
        return new QAccessibleWidget(widget, QAccessible::Window);
    case Qt::Dialog:
    case Qt::Sheet:
        return new QAccessibleWidget(widget, QAccessible::Dialog);
    default:
        // Pop-ups, tooltips and the like keep the toolkit's answer.
        return nullptr;
    }
}

} // namespace

void announceRoles()
{
    static bool installed = false;
    // The toolkit's factory is put in place with the application; installed after it, this one
    // is asked first.
    if (installed || !qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    installed = true;
    QAccessible::installFactory(windowInterface);
}

void centre(QWidget *window)
{
    QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect room = screen->availableGeometry();
    QRect frame = window->frameGeometry();
    frame.moveCenter(room.center());
    // A window larger than the screen keeps its title bar in reach.
    window->move(std::max(frame.left(), room.left()), std::max(frame.top(), room.top()));
}

} // namespace CorvaneDrive::TopLevelWindow
