#include "CorvaneDrive/Shell/HomeWindow.h"

#include "CorvaneDrive/UiStyle.h"
#include "CorvaneDrive/Windows/WindowShortcuts.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace CorvaneDrive {

using MenuContent::Row;

namespace {

QFrame *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// A button drawn as a link: no frame, the link colour, left-aligned text that wraps.
QPushButton *linkButton(const Row &row, QWidget *parent)
{
    auto *button = new QPushButton(row.title, parent);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setEnabled(row.enabled);
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::TabFocus);
    button->setStyleSheet(
        QStringLiteral("QPushButton { text-align: left; padding: 0; border: none; color: palette(link); }"
                       "QPushButton:disabled { color: palette(placeholder-text); }"));
    return button;
}

} // namespace

HomeWindow::HomeWindow(MenuFeed *feed, QWidget *parent) : QWidget(parent), m_feed(feed)
{
    setWindowTitle(QStringLiteral("Ovra"));
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(padding, padding, padding, padding);
    column->setSpacing(spacing);
    column->setSizeConstraint(QLayout::SetFixedSize);

    m_rows = new QWidget(this);
    m_rows->setFixedWidth(columnWidth);
    m_rowsColumn = new QVBoxLayout(m_rows);
    m_rowsColumn->setContentsMargins(0, 0, 0, 0);
    m_rowsColumn->setSpacing(spacing);
    column->addWidget(m_rows);
    column->addWidget(divider(this));
    QLabel *hint = UiStyle::wrappingLabel(hintText, this);
    hint->setFixedWidth(columnWidth);
    UiStyle::callout(hint);
    UiStyle::secondary(hint);
    column->addWidget(hint);

    WindowShortcuts::closeWithKeyboard(this);

    connect(feed, &MenuFeed::changed, this, &HomeWindow::render);
    render();
}

QWidget *HomeWindow::entry(const QString &title) const
{
    for (QWidget *child : m_rows->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (auto *button = qobject_cast<QPushButton *>(child); button && button->text() == title)
            return button;
        if (auto *label = qobject_cast<QLabel *>(child); label && label->text() == title)
            return label;
    }
    return nullptr;
}

void HomeWindow::render()
{
    if (!m_feed)
        return;
    // A clicked button may be what changed the rows: it goes once its click is over.
    while (QLayoutItem *item = m_rowsColumn->takeAt(0)) {
        if (QWidget *widget = item->widget()) {
            widget->hide();
            widget->setParent(nullptr);
            widget->deleteLater();
        }
        delete item;
    }
    for (const Row &row : m_feed->rows()) {
        switch (row.kind) {
        case Row::text: {
            QLabel *label = UiStyle::wrappingLabel(row.title, m_rows);
            m_rowsColumn->addWidget(label);
            break;
        }
        case Row::separator:
            m_rowsColumn->addWidget(divider(m_rows));
            break;
        case Row::button: {
            QPushButton *button = linkButton(row, m_rows);
            const MenuContent::Action action = row.action;
            connect(button, &QPushButton::clicked, this, [this, action] {
                // After the click has returned: the action may run a modal dialog or change the rows.
                QMetaObject::invokeMethod(
                    this,
                    [this, action] {
                        if (m_feed)
                            m_feed->perform(action);
                    },
                    Qt::QueuedConnection);
            });
            m_rowsColumn->addWidget(button);
            break;
        }
        }
    }
}

} // namespace CorvaneDrive
