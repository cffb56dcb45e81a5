#pragma once

#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

namespace CorvaneDrive::WindowShortcuts {

// Escape, Ctrl+W and the desktop's own close shortcuts close the window, as they close a dialog.
inline void closeWithKeyboard(QWidget *window)
{
    // Ctrl+W on every desktop, not only where its key scheme makes it the close shortcut.
    QList<QKeySequence> closing{QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)};
    for (const QKeySequence &keys : QKeySequence::keyBindings(QKeySequence::Close))
        if (!closing.contains(keys))
            closing << keys;
    for (const QKeySequence &keys : std::as_const(closing)) {
        auto *shortcut = new QShortcut(keys, window);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, window, &QWidget::close);
    }
}

} // namespace CorvaneDrive::WindowShortcuts
