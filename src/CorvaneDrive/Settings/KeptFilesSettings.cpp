#include "CorvaneDrive/Settings/KeptFilesSettings.h"

#include "CorvaneDrive/UiStyle.h"
#include "DriveCore/model/AppModel.h"
#include "DriveCore/platform/ByteCountFormat.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace CorvaneDrive {

using P = KeptFilesPresenter;

namespace {

enum Column { nameColumn, statusColumn, sizeColumn };

constexpr int pathRole = Qt::UserRole;

} // namespace

KeptFilesSettings::KeptFilesSettings(DriveCore::AppModel &model, const SettingsContext &context, QWidget *parent)
    : QWidget(parent), m_model(&model), m_context(context), m_summary(new QLabel(this)),
      m_indicator(UiStyle::busyIndicator(this)), m_search(new QLineEdit(this)), m_sort(new QComboBox(this)),
      m_selectAll(new QCheckBox(this)), m_list(new QTreeWidget(this)), m_empty(new QWidget(this)),
      m_emptyIcon(new QLabel(m_empty)), m_emptyTitle(new QLabel(m_empty)),
      m_emptyDescription(UiStyle::wrappingLabel(QString(), m_empty)), m_footer(new QLabel(this)),
      m_actions(new QPushButton(P::actionsTitle, this))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(P::padding, P::padding, P::padding, P::padding);
    column->setSpacing(P::spacing);

    // Header: the title and the summary, the indicator at the right.
    auto *header = new QHBoxLayout;
    auto *titles = new QVBoxLayout;
    titles->setSpacing(P::titleSpacing);
    auto *title = new QLabel(P::title, this);
    UiStyle::title2(title);
    titles->addWidget(title);
    UiStyle::secondary(m_summary);
    titles->addWidget(m_summary);
    header->addLayout(titles, 1);
    header->addWidget(m_indicator, 0, Qt::AlignTop);
    column->addLayout(header);

    QLabel *explanation = UiStyle::wrappingLabel(P::explanation, this);
    UiStyle::secondary(explanation);
    column->addWidget(explanation);

    // Search and order.
    auto *search = new QHBoxLayout;
    m_search->setPlaceholderText(P::searchPlaceholder);
    m_search->setAccessibleName(P::searchAccessibleName);
    m_search->setClearButtonEnabled(true);
    search->addWidget(m_search, 1);
    auto *sortLabel = new QLabel(P::sortLabel, this);
    sortLabel->setBuddy(m_sort);
    search->addWidget(sortLabel);
    for (const P::Sort sort : DriveCore::KeptBrowser::allSorts())
        m_sort->addItem(DriveCore::KeptBrowser::text(sort));
    m_sort->setAccessibleName(P::sortLabel);
    search->addWidget(m_sort);
    column->addLayout(search);

    // The list, with its own header row (the select-all box) over it.
    auto *listColumn = new QVBoxLayout;
    listColumn->setSpacing(4);
    auto *columns = new QHBoxLayout;
    columns->setContentsMargins(P::headerPadding, 0, P::headerPadding, 0);
    columns->setSpacing(P::rowSpacing);
    m_selectAll->setAccessibleName(P::selectAllAccessibleName);
    m_selectAll->setToolTip(P::selectAllTooltip);
    columns->addWidget(m_selectAll);
    auto *nameHeader = new QLabel(P::nameColumn, this);
    auto *sizeHeader = new QLabel(P::sizeColumn, this);
    for (QLabel *label : {nameHeader, sizeHeader}) {
        UiStyle::caption(label);
        UiStyle::secondary(label);
    }
    columns->addWidget(nameHeader);
    columns->addStretch(1);
    columns->addWidget(sizeHeader);
    listColumn->addLayout(columns);

    m_list->setColumnCount(3);
    m_list->setHeaderHidden(true);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setTextElideMode(Qt::ElideMiddle);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setAccessibleName(P::title);
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(nameColumn, QHeaderView::Stretch);
    m_list->header()->setSectionResizeMode(statusColumn, QHeaderView::ResizeToContents);
    m_list->header()->setSectionResizeMode(sizeColumn, QHeaderView::ResizeToContents);
    m_list->setStyleSheet(QStringLiteral("QTreeView::item { padding: %1px 0; }").arg(P::rowPadding));

    // The empty state lies over the list and lets clicks through.
    auto *empty = new QVBoxLayout(m_empty);
    empty->addStretch(1);
    m_emptyIcon->setAlignment(Qt::AlignCenter);
    UiStyle::title2(m_emptyTitle);
    m_emptyTitle->setAlignment(Qt::AlignCenter);
    m_emptyDescription->setAlignment(Qt::AlignCenter);
    UiStyle::secondary(m_emptyDescription);
    empty->addWidget(m_emptyIcon);
    empty->addWidget(m_emptyTitle);
    empty->addWidget(m_emptyDescription);
    empty->addStretch(1);
    m_empty->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *stacked = new QGridLayout;
    stacked->addWidget(m_list, 0, 0);
    stacked->addWidget(m_empty, 0, 0);
    listColumn->addLayout(stacked, 1);
    column->addLayout(listColumn, 1);

    // Footer.
    auto *footer = new QHBoxLayout;
    UiStyle::secondary(m_footer);
    footer->addWidget(m_footer);
    footer->addStretch(1);
    m_actions->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    footer->addWidget(m_actions);
    column->addLayout(footer);
    QLabel *footnote = UiStyle::wrappingLabel(P::footnote, this);
    UiStyle::caption(footnote);
    UiStyle::secondary(footnote);
    column->addWidget(footnote);

    connect(m_search, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_state.setQuery(text);
        render();
    });
    connect(m_sort, &QComboBox::activated, this, [this](int index) {
        m_state.setSort(DriveCore::KeptBrowser::allSorts().value(index, P::Sort::name));
        render();
    });
    connect(m_selectAll, &QCheckBox::clicked, this, [this](bool on) {
        m_state.setAllChecked(on);
        render();
    });
    connect(m_list, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem *item, int column) {
        if (m_showing || column != nameColumn)
            return;
        if (!m_state.working())
            m_state.setChecked(item->data(nameColumn, pathRole).toString(),
                               item->checkState(nameColumn) == Qt::Checked);
        render();
    });
    connect(m_list, &QTreeWidget::customContextMenuRequested, this, [this](const QPoint &point) {
        QTreeWidgetItem *item = m_list->itemAt(point);
        if (!item)
            return;
        QMenu *menu = actionsMenu(m_state.contextPaths(item->data(nameColumn, pathRole).toString()), this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_list->viewport()->mapToGlobal(point));
    });
    connect(m_actions, &QPushButton::clicked, this, [this] {
        QMenu *menu = actionsMenu(m_state.selectedPaths(), this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_actions->mapToGlobal(QPoint(0, m_actions->height())));
    });
    connect(&model, &DriveCore::AppModel::keptItemsChanged, this, [this] {
        if (m_model)
            m_state.setItems(m_model->keptItems());
        render();
    });
    connect(&model, &DriveCore::AppModel::isChangingDriveChanged, this, &KeptFilesSettings::render);
    m_state.setItems(model.keptItems());
    render();
}

QMenu *KeptFilesSettings::actionsMenu(const QStringList &paths, QWidget *parent)
{
    const bool changing = m_model && m_model->isChangingDrive();
    const bool hasMount = m_model && m_model->mountPath();
    const P::Actions actions = m_state.actions(paths, hasMount, changing);
    auto *menu = new QMenu(parent);
    QAction *show = menu->addAction(UiStyle::icon(QStringLiteral("system-file-manager")), P::showTitle);
    show->setEnabled(actions.canShow);
    connect(show, &QAction::triggered, this, [this, paths] { reveal(paths); });
    QAction *stop = menu->addAction(P::stopTitle);
    stop->setEnabled(actions.canStopKeeping);
    connect(stop, &QAction::triggered, this, [this, paths] { stopKeeping(paths); });
    return menu;
}

void KeptFilesSettings::reveal(const QStringList &paths)
{
    if (!m_model)
        return;
    const QList<QUrl> urls = P::revealURLs(paths, m_model->mountPath());
    // All at once, so the file manager shows them selected together.
    if (!urls.isEmpty())
        m_context.reveal(urls);
}

void KeptFilesSettings::stopKeeping(const QStringList &paths)
{
    if (!m_model || !m_state.canStopKeeping(paths, m_model->isChangingDrive()))
        return;
    m_state.setWorking(true);
    render();
    removing(this, m_model, paths);
}

QCoro::Task<> KeptFilesSettings::removing(QPointer<KeptFilesSettings> self, QPointer<DriveCore::AppModel> model,
                                          QStringList paths)
{
    // The model reports a failure through its keep alert; nothing is thrown here.
    if (model)
        co_await model->removeKept(std::move(paths));
    if (!self)
        co_return;
    self->m_state.setWorking(false);
    self->render();
}

QTreeWidgetItem *KeptFilesSettings::row(const QString &path) const
{
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        if (m_list->topLevelItem(i)->data(nameColumn, pathRole).toString() == path)
            return m_list->topLevelItem(i);
    return nullptr;
}

void KeptFilesSettings::render()
{
    m_summary->setText(P::summary(m_state.all()));
    m_indicator->setVisible(m_state.working());
    if (m_search->text() != m_state.query())
        m_search->setText(m_state.query());
    m_sort->setCurrentIndex(int(DriveCore::KeptBrowser::allSorts().indexOf(m_state.sort())));
    m_selectAll->setChecked(m_state.allChecked());
    m_selectAll->setEnabled(m_state.canCheckAll());
    showRows();
    m_footer->setText(m_state.footerText());
    m_actions->setEnabled(m_state.actionsMenuEnabled());
}

void KeptFilesSettings::showRows()
{
    m_showing = true;
    const QList<DriveCore::PinStatus> visible = m_state.visible();
    // The same rows in the same order are updated in place, so the scroll position and the
    // current row stay while the model's figures change.
    bool same = m_list->topLevelItemCount() == visible.size();
    for (int i = 0; same && i < visible.size(); ++i)
        same = m_list->topLevelItem(i)->data(nameColumn, pathRole).toString() == visible[i].path;
    if (!same) {
        const QString current =
            m_list->currentItem() ? m_list->currentItem()->data(nameColumn, pathRole).toString() : QString();
        m_list->clear();
        for (const DriveCore::PinStatus &item : visible) {
            auto *row = new QTreeWidgetItem(m_list);
            row->setData(nameColumn, pathRole, item.path);
            if (item.path == current)
                m_list->setCurrentItem(row);
        }
    }
    const QColor dimmed = palette().color(QPalette::PlaceholderText);
    for (int i = 0; i < visible.size(); ++i) {
        const DriveCore::PinStatus &item = visible[i];
        QTreeWidgetItem *row = m_list->topLevelItem(i);
        row->setText(nameColumn, P::name(item.path));
        row->setIcon(nameColumn, UiStyle::icon(P::kindIconName(item)));
        // The box is shown but cannot be changed while a request runs.
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (!m_state.working())
            flags |= Qt::ItemIsUserCheckable;
        row->setFlags(flags);
        row->setCheckState(nameColumn, m_state.selection().contains(item.path) ? Qt::Checked : Qt::Unchecked);
        row->setData(nameColumn, Qt::AccessibleDescriptionRole, P::checkAccessibleName(item.path));
        const std::optional<QString> icon = P::statusIconName(item);
        row->setIcon(statusColumn, icon ? UiStyle::icon(*icon) : QIcon());
        row->setData(statusColumn, Qt::AccessibleTextRole, icon ? P::status(item) : QString());
        row->setToolTip(statusColumn, icon ? P::status(item) : item.path);
        row->setText(sizeColumn, DriveCore::ByteCountFormat::fileSize(item.bytes));
        row->setTextAlignment(sizeColumn, Qt::AlignRight | Qt::AlignVCenter);
        row->setForeground(sizeColumn, dimmed);
        row->setToolTip(nameColumn, item.path);
        row->setToolTip(sizeColumn, item.path);
    }
    const std::optional<P::EmptyState> empty = P::emptyState(m_state.all().size(), visible.size());
    m_empty->setVisible(empty.has_value());
    if (empty) {
        m_emptyIcon->setPixmap(UiStyle::icon(empty->iconName).pixmap(48, 48));
        m_emptyTitle->setText(empty->title);
        m_emptyDescription->setText(empty->description);
    }
    m_showing = false;
}

} // namespace CorvaneDrive
