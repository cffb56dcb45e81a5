#include "CorvaneDrive/Shares/SharedLinksWindow.h"

#include "CorvaneDrive/Shares/LinkRow.h"
#include "CorvaneDrive/Shares/ShareLook.h"
#include "CorvaneDrive/Shares/ShareSetupView.h"
#include "CorvaneDrive/Shares/ShareWindowPresenter.h"

#include <QDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <exception>

using DriveCore::ShareRecord;
using DriveCore::SharesModel;
using ShareLook::Font;
using ShareLook::Tone;

namespace {

QFrame *divider()
{
    auto *line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QHBoxLayout *bar(QWidget *holder)
{
    auto *row = new QHBoxLayout(holder);
    const int margin = SharedLinksPresenter::barMargin;
    row->setContentsMargins(margin, margin, margin, margin);
    return row;
}

// A message box wide enough that its explanation reads as a few lines rather than a column.
void widen(QMessageBox *box)
{
    if (auto *informative = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setMinimumWidth(320);
}

} // namespace

SharedLinksWindow::SharedLinksWindow(SharesModel &shares, Hooks hooks, QWidget *parent)
    : QWidget(parent), m_shares(&shares), m_presence(std::move(hooks.windowOpened), std::move(hooks.windowClosed))
{
    // The model owns the list and every load and stop, so the window goes when it closes.
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(SharedLinksPresenter::windowTitle);
    ShareLook::closeWithKeyboard(this);
    setMinimumSize(SharedLinksPresenter::minimumWidth, SharedLinksPresenter::minimumHeight);
    resize(SharedLinksPresenter::initialWidth, SharedLinksPresenter::initialHeight);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_banner = new QWidget;
    auto *bannerColumn = new QVBoxLayout(m_banner);
    bannerColumn->setContentsMargins(0, 0, 0, 0);
    bannerColumn->setSpacing(0);
    auto *bannerRow = new QWidget;
    QHBoxLayout *bannerLine = bar(bannerRow);
    bannerLine->addWidget(ShareLook::label(SharedLinksPresenter::updateBanner, Font::body, Tone::secondary, false));
    bannerLine->addStretch();
    m_update = new QPushButton(SharedLinksPresenter::updateTitle);
    connect(m_update, &QPushButton::clicked, this, &SharedLinksWindow::showUpdateSheet);
    bannerLine->addWidget(m_update);
    bannerColumn->addWidget(bannerRow);
    bannerColumn->addWidget(divider());
    column->addWidget(m_banner);

    m_list = new QStackedWidget;
    m_empty = new QWidget;
    auto *empty = new QVBoxLayout(m_empty);
    empty->setSpacing(SharedLinksPresenter::emptySpacing);
    empty->addStretch();
    m_spinner = ShareLook::spinner();
    empty->addWidget(m_spinner, 0, Qt::AlignHCenter);
    m_emptyText = ShareLook::label({}, Font::body, Tone::secondary);
    m_emptyText->setAlignment(Qt::AlignHCenter);
    empty->addWidget(m_emptyText);
    m_emptyHint = ShareLook::label(SharedLinksPresenter::emptyHint, Font::callout, Tone::secondary);
    m_emptyHint->setAlignment(Qt::AlignHCenter);
    empty->addWidget(m_emptyHint);
    empty->addStretch();
    m_list->addWidget(m_empty);

    m_scroll = new QScrollArea;
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    // Tab goes through the rows' buttons; the list itself is no stop.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    auto *rowsHolder = new QWidget;
    rowsHolder->setBackgroundRole(QPalette::Base);
    rowsHolder->setAutoFillBackground(true);
    m_rowColumn = new QVBoxLayout(rowsHolder);
    m_rowColumn->setContentsMargins(SharedLinksPresenter::barMargin, 0, SharedLinksPresenter::barMargin, 0);
    m_rowColumn->setSpacing(0);
    m_rowColumn->addStretch();
    m_scroll->setWidget(rowsHolder);
    m_list->addWidget(m_scroll);
    column->addWidget(m_list, 1);

    column->addWidget(divider());
    auto *bottom = new QWidget;
    QHBoxLayout *bottomLine = bar(bottom);
    m_barMessage = ShareLook::label({}, Font::callout, Tone::orange);
    bottomLine->addWidget(m_barMessage, 1);
    bottomLine->addStretch();
    m_refresh =
        new QPushButton(QIcon::fromTheme(QStringLiteral("view-refresh-symbolic")), SharedLinksPresenter::refreshTitle);
    connect(m_refresh, &QPushButton::clicked, this, [this] {
        if (m_shares)
            m_shares->load();
    });
    bottomLine->addWidget(m_refresh);
    column->addWidget(bottom);

    connect(&shares, &SharesModel::changed, this, &SharedLinksWindow::render);
    render();
}

QList<LinkRow *> SharedLinksWindow::rows() const
{
    QList<LinkRow *> shown;
    for (int i = 0; i < m_rowColumn->count(); ++i) {
        if (auto *row = qobject_cast<LinkRow *>(m_rowColumn->itemAt(i)->widget()))
            shown.append(row);
    }
    return shown;
}

void SharedLinksWindow::render()
{
    if (!m_shares)
        return;
    const QList<SharesModel::Row> &rows = m_shares->rows();
    m_banner->setVisible(m_shares->workerOutdated());

    const SharedLinksPresenter::ListFace face = SharedLinksPresenter::listFace(rows, m_shares->loading());
    m_list->setCurrentWidget(face == SharedLinksPresenter::ListFace::rows ? static_cast<QWidget *>(m_scroll) : m_empty);
    m_spinner->setVisible(face == SharedLinksPresenter::ListFace::spinner);
    m_emptyText->setVisible(face == SharedLinksPresenter::ListFace::empty);
    m_emptyHint->setVisible(face == SharedLinksPresenter::ListFace::empty);
    ShareLook::setBreakableText(m_emptyText, SharedLinksPresenter::emptyText(m_shares->listMessage()));
    renderRows();

    const std::optional<QString> message = SharedLinksPresenter::barMessage(rows, m_shares->listMessage());
    ShareLook::setBreakableText(m_barMessage, message.value_or(QString()));
    m_barMessage->setVisible(message.has_value());
    m_refresh->setEnabled(SharedLinksPresenter::canRefresh(m_shares->loading()));
    keepFocus();

    if (m_confirmation) {
        m_confirmation->setWindowTitle(m_presenter.confirmTitle(rows));
        m_confirmation->setText(ShareLook::breakable(m_presenter.confirmTitle(rows)));
        m_confirmation->setInformativeText(m_presenter.confirmMessage(rows));
        for (QAbstractButton *button : m_confirmation->buttons()) {
            if (m_confirmation->buttonRole(button) == QMessageBox::DestructiveRole)
                button->setText(m_presenter.confirmButton(rows));
        }
    }
}

void SharedLinksWindow::keepFocus()
{
    const auto takes = [this](const QWidget *widget) {
        return widget && widget->isVisibleTo(this) && widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus);
    };
    if (takes(focusWidget()))
        return;
    // The first link's first button, else Refresh, else the update.
    QList<QWidget *> candidates;
    if (const QList<LinkRow *> shown = rows(); !shown.isEmpty())
        candidates = {shown.first()->copyLinkButton(), shown.first()->copyPasswordButton(),
                      shown.first()->stopButton()};
    candidates << m_refresh << m_update;
    for (QWidget *candidate : std::as_const(candidates)) {
        if (takes(candidate)) {
            candidate->setFocus();
            return;
        }
    }
}

void SharedLinksWindow::renderRows()
{
    // Rows keep their widgets (and their "copied" state) by the link's id; a link listed twice
    // shows once, and every widget not laid out again goes.
    QHash<QString, LinkRow *> kept;
    QList<LinkRow *> shown;
    for (const SharesModel::Row &row : m_shares->rows()) {
        if (kept.contains(row.id()))
            continue;
        LinkRow *view = m_rows.take(row.id());
        if (view) {
            view->setRow(row);
        } else {
            const ShareRecord record = row.record;
            view = new LinkRow(row, [this, record] { askToStop(record); });
        }
        kept.insert(row.id(), view);
        shown.append(view);
    }
    qDeleteAll(m_rows);
    qDeleteAll(m_dividers);
    m_dividers.clear();
    while (m_rowColumn->count() > 0)
        delete m_rowColumn->takeAt(0);
    for (LinkRow *view : std::as_const(shown)) {
        if (view != shown.first()) {
            QFrame *line = divider();
            m_dividers.append(line);
            m_rowColumn->addWidget(line);
        }
        m_rowColumn->addWidget(view);
    }
    m_rowColumn->addStretch();
    m_rows = kept;
}

void SharedLinksWindow::askToStop(const ShareRecord &record)
{
    if (!m_shares || m_confirmation)
        return;
    m_presenter.confirmStop = record;
    const QList<SharesModel::Row> &rows = m_shares->rows();
    auto *box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(m_presenter.confirmTitle(rows));
    box->setText(ShareLook::breakable(m_presenter.confirmTitle(rows)));
    box->setInformativeText(m_presenter.confirmMessage(rows));
    widen(box);
    QPushButton *confirm = box->addButton(m_presenter.confirmButton(rows), QMessageBox::DestructiveRole);
    ShareLook::makeDestructive(confirm);
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(QMessageBox::Cancel);
    box->setEscapeButton(QMessageBox::Cancel);
    connect(box, &QMessageBox::finished, this, [this, box, confirm] {
        // However the dialog closes, nothing is being confirmed any more.
        const std::optional<ShareRecord> record = std::exchange(m_presenter.confirmStop, std::nullopt);
        if (box->clickedButton() == confirm && record)
            stop(*record);
    });
    m_confirmation = box;
    box->open();
}

QCoro::Task<> SharedLinksWindow::stop(ShareRecord record)
{
    const QPointer<SharedLinksWindow> self(this);
    const QPointer<SharesModel> shares = m_shares;
    if (!shares)
        co_return;
    std::exception_ptr failure;
    try {
        co_await shares->stop(std::move(record));
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || !failure)
        co_return;
    m_presenter.error = SharesModel::message(failure);
    showFailure();
}

void SharedLinksWindow::showFailure()
{
    if (!m_presenter.error)
        return;
    if (m_alert)
        m_alert->close();
    auto *box = new QMessageBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(SharedLinksPresenter::stopFailedTitle);
    box->setText(SharedLinksPresenter::stopFailedTitle);
    box->setInformativeText(ShareLook::breakable(*m_presenter.error));
    widen(box);
    QPushButton *ok = box->addButton(SharedLinksPresenter::okTitle, QMessageBox::AcceptRole);
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    connect(box, &QMessageBox::finished, this, [this] { m_presenter.error.reset(); });
    m_alert = box;
    box->open();
}

void SharedLinksWindow::showUpdateSheet()
{
    if (!m_shares || m_sheet)
        return;
    m_presenter.showUpdate = true;
    auto *sheet = new QDialog(this);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setWindowTitle(SharedLinksPresenter::windowTitle);
    auto *column = new QVBoxLayout(sheet);
    const int margin = SharedLinksPresenter::sheetMargin;
    column->setContentsMargins(margin, margin, margin, margin);
    column->setSpacing(ShareWindowPresenter::spacing);
    column->addWidget(new ShareSetupView(*m_shares, true));
    auto *row = new QHBoxLayout;
    row->addStretch();
    auto *close = new QPushButton(SharedLinksPresenter::closeTitle);
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, sheet, &QDialog::accept);
    row->addWidget(close);
    column->addLayout(row);
    connect(sheet, &QDialog::finished, this, [this] { m_presenter.showUpdate = false; });
    ShareLook::fixWidth(sheet, SharedLinksPresenter::sheetWidth);
    m_sheet = sheet;
    sheet->open();
}

void SharedLinksWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    keepFocus();
    if (m_presence.shown() && m_shares)
        m_shares->load();
}

void SharedLinksWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_presence.hidden(*event);
}
