#pragma once

#include <QAbstractButton>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QString>

// Two-way binding of a control to a model field: the control writes the model on every edit,
// and a view that re-renders on the model's change puts the model's value back only where it
// differs, so the cursor and the selection of a field being typed in stay where they are.
namespace CorvaneDrive::Binding {

inline void show(QLineEdit *field, const QString &value)
{
    if (field->text() != value)
        field->setText(value);
}

inline void show(QPlainTextEdit *field, const QString &value)
{
    if (field->toPlainText() != value)
        field->setPlainText(value);
}

inline void show(QAbstractButton *toggle, bool value)
{
    if (toggle->isChecked() != value)
        toggle->setChecked(value);
}

} // namespace CorvaneDrive::Binding
