#include "CorvaneDrive/Windows/RecentlyDeletedWindow.h"

#include "CorvaneDrive/TopLevelWindow.h"
#include "CorvaneDrive/UiStyle.h"
#include "CorvaneDrive/Windows/EmptyPanel.h"
#include "CorvaneDrive/Windows/WindowShortcuts.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace CorvaneDrive {

using Presenter = RecentlyDeletedPresenter;

RecentlyDeletedWindow::RecentlyDeletedWindow(DriveCore::AppModel &model, QWidget *parent)
    : RecentlyDeletedWindow(RecentlyDeletedContext::live(model), parent)
{
}

RecentlyDeletedWindow::RecentlyDeletedWindow(RecentlyDeletedContext context, QWidget *parent)
    : QWidget(parent), m_presenter(new Presenter(std::move(context), this)),
      m_presence([this] { m_presenter->shown(); }, [this] { m_presenter->hidden(); }),
      m_table(new QTableWidget(0, 4, this)), m_panel(new EmptyPanel(m_table)), m_moveRow(new QWidget(this)),
      m_move(new QLabel(m_moveRow)), m_footer(new QLabel(this)), m_error(UiStyle::wrappingLabel(QString(), this)),
      m_restore(new QPushButton(Presenter::restoreTitle, this)),
      m_deleteNow(new QPushButton(Presenter::deleteNowTitle, this)),
      m_empty(new QPushButton(Presenter::emptyTitle, this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(Presenter::windowTitle);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_table->setAccessibleName(Presenter::tableName);
    m_table->setHorizontalHeaderLabels(
        {Presenter::nameColumn, Presenter::folderColumn, Presenter::deletedColumn, Presenter::daysLeftColumn});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setFrameShape(QFrame::NoFrame);
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideMiddle);
    m_table->verticalHeader()->hide();
    QHeaderView *header = m_table->horizontalHeader();
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    header->setSectionResizeMode(2, QHeaderView::Fixed);
    header->setSectionResizeMode(3, QHeaderView::Fixed);
    header->resizeSection(2, Presenter::deletedWidth);
    header->resizeSection(3, Presenter::daysLeftWidth);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    column->addWidget(m_table, 1);

    const int pad = Presenter::barPadding;
    auto *moveLine = new QHBoxLayout(m_moveRow);
    moveLine->setContentsMargins(pad, pad, pad, pad);
    auto *moveIcon = new QLabel(m_moveRow);
    moveIcon->setPixmap(QIcon::fromTheme(Presenter::moveIcon).pixmap(16, 16));
    moveLine->addWidget(moveIcon);
    m_move->setTextFormat(Qt::PlainText);
    m_move->setWordWrap(true);
    UiStyle::callout(m_move);
    UiStyle::secondary(m_move);
    moveLine->addWidget(m_move, 1);
    column->addWidget(m_moveRow);

    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    column->addWidget(divider);

    // The error takes a line of its own above the bar, so that it reads whole however long it
    // is and never pushes the footer or the buttons aside.
    UiStyle::failure(m_error);
    m_error->setContentsMargins(pad, pad, pad, 0);
    column->addWidget(m_error);

    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(pad, pad, pad, pad);
    m_footer->setTextFormat(Qt::PlainText);
    m_footer->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Preferred);
    UiStyle::secondary(m_footer);
    bar->addWidget(m_footer);
    bar->addStretch(1);
    bar->addWidget(m_restore);
    bar->addWidget(m_deleteNow);
    bar->addWidget(m_empty);
    column->addLayout(bar);
    WindowShortcuts::closeWithKeyboard(this);

    connect(m_table, &QTableWidget::itemSelectionChanged, this, &RecentlyDeletedWindow::selectionEdited);
    connect(m_restore, &QPushButton::clicked, m_presenter, &Presenter::restoreSelected);
    connect(m_deleteNow, &QPushButton::clicked, m_presenter, &Presenter::askDeleteNow);
    connect(m_empty, &QPushButton::clicked, m_presenter, &Presenter::askEmpty);
    connect(m_presenter, &Presenter::changed, this, &RecentlyDeletedWindow::render);
    render();
    resize(QSize(Presenter::defaultWidth, Presenter::defaultHeight).expandedTo(minimumSize()));
}

RecentlyDeletedWindow::~RecentlyDeletedWindow() = default;

void RecentlyDeletedWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_presence.shown())
        TopLevelWindow::centre(this);
}

void RecentlyDeletedWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_presence.hidden(*event);
}

void RecentlyDeletedWindow::fillTable()
{
    const QList<Presenter::Row> rows = m_presenter->rows();
    if (rows != m_shownRows) {
        m_shownRows = rows;
        m_table->setRowCount(int(rows.size()));
        for (int r = 0; r < rows.size(); ++r) {
            const Presenter::Row &row = rows[r];
            const QStringList cells{row.name, row.folder, row.deleted, row.daysLeft};
            for (int c = 0; c < cells.size(); ++c) {
                auto *item = new QTableWidgetItem(cells[c]);
                item->setData(Qt::UserRole, row.id);
                if (c == 1)
                    item->setToolTip(cells[c]);
                if (c == 3)
                    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                m_table->setItem(r, c, item);
            }
        }
    }
    // The table shows the presenter's selection (emptied after each action).
    const QSet<QString> &selected = m_presenter->selection();
    QItemSelection wanted;
    for (int r = 0; r < m_table->rowCount(); ++r)
        if (selected.contains(m_table->item(r, 0)->data(Qt::UserRole).toString()))
            wanted.select(m_table->model()->index(r, 0), m_table->model()->index(r, 3));
    if (m_table->selectionModel()->selection() != wanted)
        m_table->selectionModel()->select(wanted, QItemSelectionModel::ClearAndSelect);
}

void RecentlyDeletedWindow::selectionEdited()
{
    if (m_filling)
        return;
    QSet<QString> ids;
    for (const QModelIndex &index : m_table->selectionModel()->selectedRows())
        ids.insert(m_table->item(index.row(), 0)->data(Qt::UserRole).toString());
    m_presenter->setSelection(std::move(ids));
}

void RecentlyDeletedWindow::render()
{
    m_filling = true;
    fillTable();
    m_filling = false;

    if (m_presenter->loading())
        m_panel->showBusy();
    else if (const auto panel = m_presenter->panel())
        m_panel->showPanel(panel->icon, panel->title, panel->description);
    else
        m_panel->clear();

    const std::optional<QString> move = m_presenter->trashMoveMessage();
    m_move->setText(move.value_or(QString()));
    m_moveRow->setVisible(move.has_value());
    m_footer->setText(m_presenter->footer());
    const std::optional<QString> &error = m_presenter->error();
    m_error->setText(error.value_or(QString()));
    m_error->setToolTip(error.value_or(QString()));
    m_error->setVisible(error.has_value());
    m_restore->setEnabled(m_presenter->canRestore());
    m_deleteNow->setEnabled(m_presenter->canDeleteNow());
    m_empty->setEnabled(m_presenter->canEmpty());
    // Never narrower than the footer and the buttons need at the desktop's font.
    layout()->activate();
    setMinimumSize(QSize(Presenter::minimumWidth, Presenter::minimumHeight).expandedTo(layout()->minimumSize()));

    if (m_presenter->confirming() && !m_confirmation) {
        m_confirmation = new QMessageBox(QMessageBox::Warning, Presenter::windowTitle, Presenter::confirmTitle(),
                                         QMessageBox::NoButton, this);
        QPushButton *remove = m_confirmation->addButton(Presenter::deleteTitle, QMessageBox::DestructiveRole);
        QPushButton *cancel = m_confirmation->addButton(Presenter::cancelTitle, QMessageBox::RejectRole);
        m_confirmation->setDefaultButton(cancel);
        m_confirmation->setEscapeButton(cancel);
        m_confirmation->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_confirmation, &QMessageBox::finished, this, [this, box = m_confirmation.data(), remove] {
            if (box->clickedButton() == remove)
                m_presenter->confirm();
            else
                m_presenter->dismissConfirmation();
        });
        m_confirmation->open();
    } else if (!m_presenter->confirming() && m_confirmation) {
        m_confirmation->close();
    }
}

} // namespace CorvaneDrive
