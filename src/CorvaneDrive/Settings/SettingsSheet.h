#pragma once

#include <QDialog>

#include <optional>

class QHBoxLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace CorvaneDrive {

// The frame every settings sheet shares: a window-modal dialog over the settings window, a
// column 12 apart inside a 20-point margin, a fixed width and the height of its content, the
// title first in the headline font and a row of buttons at the foot, pushed to the right.
// Escape presses "Cancel" (rejects); the button marked as default answers Return.
class SettingsSheet : public QDialog {
    Q_OBJECT
public:
    static constexpr int spacing = 12;
    static constexpr int margin = 20;

    SettingsSheet(const QString &title, int width, QWidget *parent);

    // The column above the button row.
    QVBoxLayout *column() const { return m_column; }
    QHBoxLayout *buttonRow() const { return m_buttons; }
    // A button at the end of the row.
    QPushButton *addButton(const QString &title);
    // Marks `button` as the one Return presses.
    void setDefaultButton(QPushButton *button);
    // An orange failure line, hidden while empty.
    QLabel *addFailureLine();

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    // The height follows the content at the fixed width.
    void fitToContent();

private:
    int m_width;
    QVBoxLayout *m_column;
    QHBoxLayout *m_buttons;
};

// Shows `text` in `label`, or hides it for none.
void showLine(QLabel *label, const std::optional<QString> &text);

} // namespace CorvaneDrive
