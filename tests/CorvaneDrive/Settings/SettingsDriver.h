#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

// What the settings window tests do with the mouse and the keyboard, and how they read a line.
namespace SettingsDriver {

inline void click(QAbstractButton *button)
{
    ASSERT_TRUE(button);
    ASSERT_TRUE(button->isVisible() && button->isEnabled()) << button->text().toStdString();
    QTest::mouseClick(button, Qt::LeftButton);
}

// Replaces the field's text by typing.
inline void typeInto(QLineEdit *field, const QString &text)
{
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
}

// A label's text while it is shown; none while hidden.
inline std::optional<QString> shown(const QLabel *label)
{
    return label->isVisibleTo(label->window()) ? std::optional(label->text()) : std::nullopt;
}

} // namespace SettingsDriver
