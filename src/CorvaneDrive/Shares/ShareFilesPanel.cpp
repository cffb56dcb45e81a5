#include "CorvaneDrive/Shares/ShareFilesPanel.h"

#include <QCoroSignal>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>

#include <exception>
#include <tuple>
#include <vector>

using DriveCore::SharesModel;

ShareFilesPanel::ShareFilesPanel(const QString &startFolder, QWidget *parent) : QFileDialog(parent)
{
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFiles);
    setAcceptMode(QFileDialog::AcceptOpen);
    setLabelText(QFileDialog::Accept, prompt);
    setWindowTitle(prompt);
    if (!startFolder.isEmpty())
        setDirectory(startFolder);

    // The message above everything else: the dialog's grid moves down one row to make room.
    if (auto *grid = qobject_cast<QGridLayout *>(layout())) {
        std::vector<std::tuple<QLayoutItem *, int, int, int, int>> items;
        while (grid->count() > 0) {
            int row = 0, column = 0, rows = 0, columns = 0;
            grid->getItemPosition(0, &row, &column, &rows, &columns);
            items.emplace_back(grid->takeAt(0), row, column, rows, columns);
        }
        auto *line = new QLabel(message);
        line->setWordWrap(true);
        grid->addWidget(line, 0, 0, 1, -1);
        for (const auto &[item, row, column, rows, columns] : items)
            grid->addItem(item, row + 1, column, rows, columns);
    }

    // Qt renames the button "Open" while a folder is selected, but here a folder is shared like
    // a file. The name comes back right after Qt's own handlers of a new selection, current item
    // or typed name (connected before these), and whenever the button box lays out again (every
    // rename asks it to) for any other rename.
    if (auto *list = findChild<QListView *>(QStringLiteral("listView")); list && list->selectionModel())
        connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this, &ShareFilesPanel::keepPrompt);
    connect(this, &QFileDialog::currentChanged, this, &ShareFilesPanel::keepPrompt);
    if (auto *name = findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
        connect(name, &QLineEdit::textChanged, this, &ShareFilesPanel::keepPrompt);
    if (auto *buttons = findChild<QDialogButtonBox *>())
        buttons->installEventFilter(this);
}

void ShareFilesPanel::keepPrompt()
{
    auto *buttons = findChild<QDialogButtonBox *>();
    QPushButton *share = buttons ? buttons->button(QDialogButtonBox::Open) : nullptr;
    if (share && share->text() != prompt)
        share->setText(prompt);
}

bool ShareFilesPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::LayoutRequest && qobject_cast<QDialogButtonBox *>(watched))
        keepPrompt();
    return QFileDialog::eventFilter(watched, event);
}

void ShareFilesPanel::accept()
{
    const QStringList selected = selectedFiles();
    const bool allThere = !selected.isEmpty()
        && std::all_of(selected.begin(), selected.end(), [](const QString &path) { return QFileInfo::exists(path); });
    // A typed name that is not there: the dialog's own handling says so.
    if (!allThere) {
        QFileDialog::accept();
        return;
    }
    m_chosen = selected;
    QDialog::accept();
}

QCoro::Task<> ShareFilesPanel::pickAndShare(QPointer<SharesModel> shares, QString mountPath, QWidget *parent,
                                            std::function<void()> openShare)
{
    QPointer<ShareFilesPanel> panel = new ShareFilesPanel(mountPath, parent);
    panel->open();
    const int result = co_await qCoro(panel.data(), &QDialog::finished);
    if (!panel)
        co_return;
    const QStringList chosen = result == QDialog::Accepted ? panel->chosen() : QStringList();
    panel->deleteLater();
    if (chosen.isEmpty() || !shares)
        co_return;

    std::exception_ptr failure;
    try {
        co_await shares->pick(chosen);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        auto *alert = new QMessageBox(QMessageBox::Warning, failureTitle, failureTitle, QMessageBox::NoButton, parent);
        alert->setInformativeText(SharesModel::message(failure));
        alert->addButton(QMessageBox::Ok);
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->open();
        co_return;
    }
    if (shares && openShare)
        openShare();
}
