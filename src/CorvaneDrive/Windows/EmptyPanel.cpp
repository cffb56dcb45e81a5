#include "CorvaneDrive/Windows/EmptyPanel.h"

#include "CorvaneDrive/UiStyle.h"

#include <QAbstractScrollArea>
#include <QEvent>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace CorvaneDrive {

EmptyPanel::EmptyPanel(QAbstractScrollArea *list)
    : QWidget(list->viewport()), m_icon(new QLabel(this)), m_title(new QLabel(this)), m_description(new QLabel(this)),
      m_spinner(new QProgressBar(this))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *column = new QVBoxLayout(this);
    column->setSpacing(6);
    column->addStretch(1);
    for (QLabel *label : {m_icon, m_title, m_description}) {
        label->setAlignment(Qt::AlignCenter);
        label->setTextFormat(Qt::PlainText);
        column->addWidget(label);
    }
    m_description->setWordWrap(true);
    UiStyle::title2(m_title);
    UiStyle::secondary(m_description);
    UiStyle::secondary(m_icon);
    m_spinner->setRange(0, 0);
    m_spinner->setTextVisible(false);
    m_spinner->setFixedWidth(120);
    column->addWidget(m_spinner, 0, Qt::AlignCenter);
    column->addStretch(1);
    list->viewport()->installEventFilter(this);
    setGeometry(list->viewport()->rect());
    clear();
}

void EmptyPanel::showPanel(const QString &icon, const QString &title, const QString &description)
{
    m_icon->setPixmap(QIcon::fromTheme(icon).pixmap(48, 48));
    m_icon->setVisible(!m_icon->pixmap().isNull());
    m_title->setText(title);
    m_title->show();
    m_description->setText(description);
    m_description->show();
    m_spinner->hide();
    show();
}

void EmptyPanel::showBusy()
{
    m_icon->hide();
    m_title->hide();
    m_description->hide();
    m_spinner->show();
    show();
}

void EmptyPanel::clear()
{
    hide();
}

bool EmptyPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize && watched == parentWidget())
        setGeometry(parentWidget()->rect());
    return false;
}

} // namespace CorvaneDrive
