#pragma once

#include <QWidget>

class QPushButton;
class QVBoxLayout;

namespace CorvaneDrive {

// One screen of the setup window, built for one step and thrown away when the step changes.
class SetupScreenView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // Shows the assistant's current fields; called on each of its changes.
    virtual void render() = 0;
    // The button that Return presses on this screen.
    virtual QPushButton *defaultButton() const = 0;
    // Where the keyboard focus goes when the screen appears; none gives it to the default button.
    virtual QWidget *firstField() const { return nullptr; }
    // The control an error of the status area is about, so that a screen reader reads the two
    // together; none for an error of the whole screen.
    virtual QWidget *fieldForError(const QString &error) const
    {
        Q_UNUSED(error);
        return nullptr;
    }

protected:
    // The screen's column, `spacing` apart, opening with its title in the second title size.
    QVBoxLayout *startColumn(int spacing, const QString &title);
};

} // namespace CorvaneDrive
