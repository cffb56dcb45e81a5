#include "CorvaneDrive/Windows/SearchWindow.h"

#include "CorvaneDrive/TopLevelWindow.h"
#include "CorvaneDrive/UiStyle.h"
#include "CorvaneDrive/Windows/EmptyPanel.h"
#include "CorvaneDrive/Windows/WindowShortcuts.h"

#include <QAbstractTableModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace CorvaneDrive {

using DriveCore::DriveSearchEntry;

// The results as the table reads them: at most 500 rows, cells made when drawn.
class SearchResultsModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setEntries(const QList<DriveSearchEntry> &entries)
    {
        if (entries == m_entries)
            return;
        beginResetModel();
        m_entries = entries;
        endResetModel();
    }
    const QList<DriveSearchEntry> &entries() const { return m_entries; }

    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(m_entries.size()); }
    int columnCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : 4; }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= m_entries.size())
            return {};
        const DriveSearchEntry &entry = m_entries[index.row()];
        switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
            case 0:
                return entry.name;
            case 1:
                return SearchPresenter::folderText(entry);
            case 2:
                return SearchPresenter::modifiedText(entry);
            case 3:
                return SearchPresenter::sizeText(entry);
            }
            break;
        case Qt::DecorationRole:
            if (index.column() == 0)
                return QIcon::fromTheme(entry.isDirectory ? SearchPresenter::folderIcon : SearchPresenter::fileIcon);
            break;
        case Qt::ToolTipRole:
            if (index.column() == 0)
                return entry.path;
            break;
        case Qt::ForegroundRole:
            if (index.column() == 1 || (index.column() == 2 && entry.pendingUpload))
                return QPalette().color(QPalette::PlaceholderText);
            break;
        case Qt::TextAlignmentRole:
            if (index.column() == 3)
                return int(Qt::AlignRight | Qt::AlignVCenter);
            break;
        case Qt::UserRole:
            return entry.path;
        }
        return {};
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        switch (section) {
        case 0:
            return SearchPresenter::nameColumn;
        case 1:
            return SearchPresenter::folderColumn;
        case 2:
            return SearchPresenter::modifiedColumn;
        case 3:
            return SearchPresenter::sizeColumn;
        }
        return {};
    }

private:
    QList<DriveSearchEntry> m_entries;
};

SearchWindow::SearchWindow(DriveCore::AppModel &model, QWidget *parent)
    : SearchWindow(SearchContext::live(model), parent)
{
}

SearchWindow::SearchWindow(SearchContext context, QWidget *parent)
    : QWidget(parent), m_presenter(new SearchPresenter(std::move(context), this)),
      m_presence([this] { m_presenter->shown(); }, [this] { m_presenter->hidden(); }), m_field(new QLineEdit(this)),
      m_spinner(new QProgressBar(this)), m_cancel(new QPushButton(SearchPresenter::cancelTitle, this)),
      m_refresh(new QPushButton(SearchPresenter::refreshTitle, this)), m_table(new QTableView(this)),
      m_model(new SearchResultsModel(this)), m_panel(new EmptyPanel(m_table)), m_count(new QLabel(this)),
      m_updated(new QLabel(this)), m_show(new QPushButton(SearchPresenter::showTitle, this)),
      m_error(UiStyle::wrappingLabel(QString(), this)),
      m_offline(UiStyle::wrappingLabel(SearchPresenter::offlineNote, this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(SearchPresenter::windowTitle);
    setMinimumSize(SearchPresenter::minimumWidth, SearchPresenter::minimumHeight);
    resize(SearchPresenter::defaultWidth, SearchPresenter::defaultHeight);
    auto *column = new QVBoxLayout(this);
    const int margin = SearchPresenter::margin;
    column->setContentsMargins(margin, margin, margin, margin);
    column->setSpacing(SearchPresenter::spacing);

    auto *searchRow = new QHBoxLayout;
    auto *icon = new QLabel(this);
    icon->setPixmap(QIcon::fromTheme(SearchPresenter::searchIcon).pixmap(16, 16));
    searchRow->addWidget(icon);
    m_field->setPlaceholderText(SearchPresenter::fieldPlaceholder);
    m_field->setAccessibleName(SearchPresenter::fieldName);
    m_field->setClearButtonEnabled(true);
    searchRow->addWidget(m_field, 1);
    m_spinner->setRange(0, 0);
    m_spinner->setTextVisible(false);
    m_spinner->setFixedWidth(60);
    searchRow->addWidget(m_spinner);
    searchRow->addWidget(m_cancel);
    searchRow->addWidget(m_refresh);
    column->addLayout(searchRow);

    m_table->setModel(m_model);
    m_table->setAccessibleName(SearchPresenter::resultsName);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSortingEnabled(false);
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideMiddle);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 8);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    QHeaderView *header = m_table->horizontalHeader();
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    header->setSectionResizeMode(2, QHeaderView::Fixed);
    header->setSectionResizeMode(3, QHeaderView::Fixed);
    header->resizeSection(2, SearchPresenter::modifiedWidth);
    header->resizeSection(3, SearchPresenter::sizeWidth);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionsClickable(false);
    column->addWidget(m_table, 1);

    auto *footer = new QHBoxLayout;
    for (QLabel *label : {m_count, m_updated}) {
        label->setTextFormat(Qt::PlainText);
        UiStyle::callout(label);
        UiStyle::secondary(label);
    }
    footer->addWidget(m_count);
    footer->addStretch(1);
    footer->addWidget(m_updated);
    UiStyle::callout(m_show);
    footer->addWidget(m_show);
    column->addLayout(footer);
    UiStyle::callout(m_error);
    UiStyle::failure(m_error);
    column->addWidget(m_error);
    UiStyle::caption(m_offline);
    UiStyle::secondary(m_offline);
    column->addWidget(m_offline);
    WindowShortcuts::closeWithKeyboard(this);
    // The arrow keys move from the field into the results, as in a file manager's search.
    m_field->installEventFilter(this);

    connect(m_field, &QLineEdit::textEdited, m_presenter, &SearchPresenter::setQuery);
    connect(m_refresh, &QPushButton::clicked, m_presenter, &SearchPresenter::refresh);
    connect(m_cancel, &QPushButton::clicked, m_presenter, &SearchPresenter::cancelLoad);
    connect(m_show, &QPushButton::clicked, this, [this] {
        if (const auto path = m_presenter->selection())
            m_presenter->reveal({*path});
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, &SearchWindow::selectionEdited);
    // A double click also activates, and a single click does where the desktop opens on one.
    connect(m_table, &QTableView::activated, this, [this] { m_presenter->open(selectedPaths()); });
    connect(m_table, &QWidget::customContextMenuRequested, this, &SearchWindow::showContextMenu);
    connect(m_presenter, &SearchPresenter::changed, this, &SearchWindow::render);
    render();
}

SearchWindow::~SearchWindow() = default;

void SearchWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_presence.shown()) {
        TopLevelWindow::centre(this);
        m_field->setFocus();
    }
}

void SearchWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_presence.hidden(*event);
}

bool SearchWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_field && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Down && m_model->rowCount() > 0) {
        m_table->setFocus();
        if (!m_table->selectionModel()->hasSelection())
            m_table->selectRow(0);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QStringList SearchWindow::selectedPaths() const
{
    QStringList paths;
    for (const QModelIndex &index : m_table->selectionModel()->selectedRows())
        paths << m_model->data(index, Qt::UserRole).toString();
    return paths;
}

void SearchWindow::selectionEdited()
{
    if (m_filling)
        return;
    const QStringList paths = selectedPaths();
    m_presenter->setSelection(paths.isEmpty() ? std::nullopt : std::optional(paths.front()));
}

void SearchWindow::showContextMenu(const QPoint &position)
{
    const QStringList paths = selectedPaths();
    if (paths.isEmpty())
        return;
    QMenu menu(this);
    menu.addAction(SearchPresenter::showTitle, this, [this, paths] { m_presenter->reveal(paths); });
    menu.addAction(SearchPresenter::openTitle, this, [this, paths] { m_presenter->open(paths); });
    menu.exec(m_table->viewport()->mapToGlobal(position));
}

void SearchWindow::render()
{
    if (m_field->text() != m_presenter->query())
        m_field->setText(m_presenter->query());
    const bool loading = m_presenter->loading();
    m_spinner->setVisible(loading);
    m_cancel->setVisible(loading);
    m_refresh->setVisible(!loading);
    m_refresh->setEnabled(m_presenter->canRefresh());

    m_filling = true;
    m_model->setEntries(m_presenter->results().items);
    const std::optional<QString> &selected = m_presenter->selection();
    const QList<DriveSearchEntry> &entries = m_model->entries();
    int row = -1;
    if (selected)
        for (int i = 0; i < entries.size() && row < 0; ++i)
            if (entries[i].path == *selected)
                row = i;
    if (row < 0)
        m_table->clearSelection();
    else if (!m_table->selectionModel()->isRowSelected(row, {}))
        m_table->selectRow(row);
    m_filling = false;

    if (const auto placeholder = m_presenter->placeholder())
        m_panel->showPanel(SearchPresenter::searchIcon, placeholder->title, placeholder->description);
    else
        m_panel->clear();
    m_count->setText(m_presenter->countText());
    const std::optional<QString> updated = m_presenter->updatedText();
    m_updated->setText(updated.value_or(QString()));
    m_updated->setVisible(updated.has_value());
    m_show->setEnabled(m_presenter->canReveal());
    m_error->setText(m_presenter->error().value_or(QString()));
    m_error->setVisible(m_presenter->error().has_value());
    m_offline->setVisible(m_presenter->offline());
}

} // namespace CorvaneDrive
