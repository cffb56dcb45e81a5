#pragma once

#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

namespace CorvaneDrive::WindowShortcuts {

// Escape and the desktop's close shortcut (Ctrl+W) close the window, as they close a dialog.
inline void closeWithKeyboard(QWidget *window)
{
    for (const QKeySequence &keys : {QKeySequence(Qt::Key_Escape), QKeySequence(QKeySequence::Close)}) {
        auto *shortcut = new QShortcut(keys, window);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, window, &QWidget::close);
    }
}

} // namespace CorvaneDrive::WindowShortcuts
