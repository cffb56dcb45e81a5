#pragma once

#include "CorvaneDrive/Setup/SetupStatusArea.h"
#include "CorvaneDrive/Setup/SetupWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

// Mouse and keyboard on the setup window, as a user would use them.
namespace SetupWindowDriver {

inline void click(QAbstractButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

inline void typeInto(QWidget *field, const QString &text)
{
    field->setFocus();
    QTest::keyClicks(field, text);
}

inline void replaceText(QLineEdit *field, const QString &text)
{
    field->selectAll();
    typeInto(field, text);
}

// Return where the keyboard focus is.
inline void pressReturn(QWidget &window)
{
    QWidget *focus = QApplication::focusWidget();
    QTest::keyClick(focus && window.isAncestorOf(focus) ? focus : &window, Qt::Key_Return);
}

// The status area's error line, or none while it shows none.
inline std::optional<QString> shownError(CorvaneDrive::SetupWindow &window)
{
    QLabel *error = window.statusArea()->errorLabel();
    return error->isVisibleTo(&window) ? std::optional(error->text()) : std::nullopt;
}

// The screen shown, as the view type expected; a test failure (and none) when it is another.
template<typename View>
View *screen(CorvaneDrive::SetupWindow &window)
{
    auto *view = qobject_cast<View *>(window.screen());
    EXPECT_TRUE(view) << "screen " << (window.shownScreen() ? int(*window.shownScreen()) : -1);
    return view;
}

} // namespace SetupWindowDriver
