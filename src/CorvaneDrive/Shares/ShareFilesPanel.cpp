#include "CorvaneDrive/Shares/ShareFilesPanel.h"

#include <QCoroSignal>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>

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
