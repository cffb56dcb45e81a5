#include "CorvaneDrive/Settings/SettingsSheet.h"

#include "CorvaneDrive/UiStyle.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <optional>

namespace CorvaneDrive {

SettingsSheet::SettingsSheet(const QString &title, int width, QWidget *parent)
    : QDialog(parent), m_width(width), m_column(new QVBoxLayout), m_buttons(new QHBoxLayout)
{
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    setSizeGripEnabled(false);
    auto *frame = new QVBoxLayout(this);
    frame->setContentsMargins(margin, margin, margin, margin);
    frame->setSpacing(spacing);
    frame->addLayout(m_column);
    frame->addLayout(m_buttons);
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(spacing);
    auto *heading = new QLabel(title, this);
    UiStyle::headline(heading);
    m_column->addWidget(heading);
    m_buttons->addStretch(1);
    fitToContent();
}

QPushButton *SettingsSheet::addButton(const QString &title)
{
    auto *button = new QPushButton(title, this);
    button->setAutoDefault(false);
    m_buttons->addWidget(button);
    return button;
}

void SettingsSheet::setDefaultButton(QPushButton *button)
{
    UiStyle::setDefaultButton(this, button);
}

QLabel *SettingsSheet::addFailureLine()
{
    QLabel *line = UiStyle::wrappingLabel(QString(), this);
    UiStyle::failure(line);
    UiStyle::selectable(line);
    line->hide();
    m_column->addWidget(line);
    return line;
}

bool SettingsSheet::event(QEvent *event)
{
    const bool handled = QDialog::event(event);
    // A line shown or hidden inside asks for a new layout; the height follows.
    if (event->type() == QEvent::LayoutRequest)
        fitToContent();
    return handled;
}

void SettingsSheet::showEvent(QShowEvent *event)
{
    fitToContent();
    QDialog::showEvent(event);
}

void SettingsSheet::fitToContent()
{
    QLayout *frame = layout();
    frame->activate();
    const int height =
        frame->hasHeightForWidth() ? frame->totalHeightForWidth(m_width) : frame->totalSizeHint().height();
    if (minimumSize() != QSize(m_width, height) || maximumSize() != QSize(m_width, height))
        setFixedSize(m_width, height);
}

void showLine(QLabel *label, const std::optional<QString> &text)
{
    label->setText(text.value_or(QString()));
    label->setVisible(text.has_value());
}

} // namespace CorvaneDrive
