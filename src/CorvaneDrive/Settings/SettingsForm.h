#pragma once

#include <QScrollArea>

#include <optional>

class QFormLayout;
class QLabel;
class QVBoxLayout;

namespace CorvaneDrive {

// A grouped form of the settings window: titled sections, each with a note under it, scrolling
// when it is taller than the window, and the window's error line in orange after the last one.
class SettingsForm : public QScrollArea {
    Q_OBJECT
public:
    explicit SettingsForm(QWidget *parent = nullptr);

    // The settings window's failure line at the foot of the form.
    QLabel *errorLine() const { return m_error; }

protected:
    // A new section before the error line; `header` may be empty. Its footer, when given, is
    // put into *footer when that is asked for.
    QFormLayout *addSection(const QString &header, const QString &footer = {}, QLabel **footerLabel = nullptr,
                            QWidget **section = nullptr);
    void showError(const std::optional<QString> &error);

private:
    QWidget *m_body;
    QVBoxLayout *m_column;
    QLabel *m_error;
};

} // namespace CorvaneDrive
