#include "CorvaneDrive/Windows/UploadsWindow.h"

#include "CorvaneDrive/TopLevelWindow.h"
#include "CorvaneDrive/UiStyle.h"
#include "CorvaneDrive/Windows/ElidedLabel.h"
#include "CorvaneDrive/Windows/EmptyPanel.h"
#include "CorvaneDrive/Windows/WindowShortcuts.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QStyle>
#include <QVBoxLayout>

namespace CorvaneDrive {

namespace Uploads = UploadsPresenter;

namespace {

void tint(QLabel *label, Uploads::Tint tint)
{
    QPalette palette = label->palette();
    QColor colour;
    switch (tint) {
    case Uploads::Tint::accent:
        colour = palette.color(QPalette::Highlight);
        break;
    case Uploads::Tint::secondary:
        colour = palette.color(QPalette::PlaceholderText);
        break;
    case Uploads::Tint::orange:
        colour = UiStyle::orange();
        break;
    case Uploads::Tint::green:
        colour = QColor(0x26, 0xa2, 0x69);
        break;
    }
    // Inside a list the labels draw with the view's text role: both roles get the colour.
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    label->setPalette(palette);
    label->setForegroundRole(QPalette::WindowText);
}

} // namespace

UploadsWindow::UploadsWindow(DriveCore::AppModel &model, QWidget *parent)
    : UploadsWindow(UploadsContext::live(model), parent)
{
}

UploadsWindow::UploadsWindow(UploadsContext context, QWidget *parent)
    : QWidget(parent), m_context(std::move(context)), m_observer(new QObject(this)),
      m_presence(m_context.windowOpened, m_context.windowClosed), m_status(new QLabel(this)),
      m_list(new QListWidget(this)), m_panel(new EmptyPanel(m_list))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(Uploads::windowTitle);
    setMinimumSize(Uploads::minimumWidth, Uploads::minimumHeight);
    resize(Uploads::defaultWidth, Uploads::defaultHeight);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    const int padding = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    m_status->setTextFormat(Qt::PlainText);
    m_status->setContentsMargins(padding, padding, padding, padding);
    UiStyle::headline(m_status);
    column->addWidget(m_status);
    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    column->addWidget(divider);
    m_list->setAccessibleName(Uploads::listName);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    column->addWidget(m_list, 1);
    WindowShortcuts::closeWithKeyboard(this);

    m_context.observe(m_observer, [this] { render(); });
    render();
}

UploadsWindow::~UploadsWindow() = default;

UploadRowView *UploadsWindow::rowView(int index) const
{
    QListWidgetItem *item = m_list->item(index);
    return item ? qobject_cast<UploadRowView *>(m_list->itemWidget(item)) : nullptr;
}

void UploadsWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_presence.shown())
        TopLevelWindow::centre(this);
}

void UploadsWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    render();
}

void UploadsWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_presence.hidden(*event);
}

void UploadsWindow::render()
{
    m_status->setText(m_context.statusLine());
    const QList<DriveCore::UploadRow> rows = m_context.uploads();
    const std::optional<QString> queued = m_context.queuedSummary();
    const int wanted = int(rows.size()) + (queued ? 1 : 0);
    // Row views are reused in place; the refresh loop redraws every 2 s.
    while (m_list->count() > wanted)
        delete m_list->takeItem(m_list->count() - 1);
    while (m_list->count() < wanted) {
        auto *item = new QListWidgetItem(m_list);
        auto *view = new UploadRowView(m_list);
        m_list->setItemWidget(item, view);
    }
    for (int i = 0; i < wanted; ++i) {
        UploadRowView *view = rowView(i);
        if (i < rows.size())
            view->showRow(rows[i]);
        else
            view->showQueued(*queued);
        // As wide as the list: a row's own width would leave a short one narrow.
        m_list->item(i)->setSizeHint(QSize(m_list->viewport()->width(), view->sizeHint().height()));
    }
    if (Uploads::showsList(rows, queued))
        m_panel->clear();
    else
        m_panel->showPanel(Uploads::emptyIcon, Uploads::emptyTitle, Uploads::emptyDescription);
}

UploadRowView::UploadRowView(QWidget *parent)
    : QWidget(parent), m_icon(new QLabel(this)), m_name(new ElidedLabel(this)), m_bar(new QProgressBar(this)),
      m_detail(new QLabel(this)), m_size(new QLabel(this))
{
    auto *row = new QHBoxLayout(this);
    const int side = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    row->setContentsMargins(side, Uploads::rowPadding, side, Uploads::rowPadding);
    row->setSpacing(Uploads::rowSpacing);
    m_icon->setFixedWidth(Uploads::iconWidth);
    row->addWidget(m_icon);
    auto *lines = new QVBoxLayout;
    lines->setSpacing(Uploads::lineSpacing);
    lines->addWidget(m_name);
    auto *detailLine = new QHBoxLayout;
    m_bar->setTextVisible(false);
    m_bar->setRange(0, 100);
    m_bar->setMaximumWidth(Uploads::barWidth);
    m_bar->setMaximumHeight(m_detail->fontMetrics().height());
    detailLine->addWidget(m_bar);
    m_detail->setTextFormat(Qt::PlainText);
    UiStyle::caption(m_detail);
    detailLine->addWidget(m_detail, 1);
    lines->addLayout(detailLine);
    row->addLayout(lines, 1);
    m_size->setTextFormat(Qt::PlainText);
    m_size->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    tint(m_size, Uploads::Tint::secondary);
    row->addWidget(m_size);
}

void UploadRowView::showRow(const DriveCore::UploadRow &row)
{
    m_name->setPalette(QPalette());
    const Uploads::RowLook look = Uploads::look(row);
    m_icon->setPixmap(QIcon::fromTheme(look.icon).pixmap(Uploads::iconWidth, Uploads::iconWidth));
    tint(m_icon, look.iconTint);
    m_name->setFullText(row.name);
    m_name->setToolTip(row.id);
    m_bar->setVisible(look.percent.has_value());
    m_bar->setValue(look.percent.value_or(0));
    m_detail->setText(look.detail);
    m_detail->show();
    tint(m_detail, look.detailTint);
    m_size->setText(look.size);
    m_size->show();
}

void UploadRowView::showQueued(const QString &text)
{
    m_icon->setPixmap(QIcon::fromTheme(Uploads::queuedIcon).pixmap(Uploads::iconWidth, Uploads::iconWidth));
    m_name->setFullText(text);
    tint(m_name, Uploads::Tint::secondary);
    m_bar->hide();
    m_detail->hide();
    m_size->hide();
}

QLabel *UploadRowView::nameLabel() const
{
    return m_name;
}

} // namespace CorvaneDrive
