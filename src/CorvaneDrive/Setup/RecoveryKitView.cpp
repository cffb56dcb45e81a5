#include "CorvaneDrive/Setup/RecoveryKitView.h"

#include "CorvaneDrive/CodeView.h"
#include "CorvaneDrive/Setup/RecoveryKitPresenter.h"
#include "CorvaneDrive/Setup/SetupFlowPresenter.h"
#include "CorvaneDrive/UiStyle.h"

#include <QClipboard>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

namespace CorvaneDrive {

RecoveryKitView::RecoveryKitView(DriveCore::SetupState &state, QString code, QWidget *parent)
    : SetupScreenView(parent), m_state(&state), m_code(std::move(code)),
      m_copy(new QPushButton(RecoveryKitPresenter::copyTitle, this)),
      m_save(new QPushButton(RecoveryKitPresenter::saveTitle, this))
{
    QVBoxLayout *column = startColumn(SetupFlowPresenter::screenSpacing, RecoveryKitPresenter::title);
    column->addWidget(UiStyle::wrappingLabel(DriveCore::SetupState::recoveryKitSaveText, this));
    m_codeView = new CodeView(m_code, this);
    m_codeView->setAccessibleName(CodeView::recoveryKitName);
    column->addWidget(m_codeView);

    auto *actions = new QHBoxLayout;
    actions->addStretch(1);
    m_copy->setAutoDefault(false);
    m_save->setAutoDefault(false);
    actions->addWidget(m_copy);
    actions->addWidget(m_save);
    column->addLayout(actions);
    connect(m_copy, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(m_code); });
    connect(m_save, &QPushButton::clicked, this, &RecoveryKitView::saveKit);

    auto *details = new QGroupBox(this);
    auto *detailsColumn = new QVBoxLayout(details);
    detailsColumn->setSpacing(6);
    QLabel *detailsText = UiStyle::wrappingLabel(DriveCore::SetupState::storageDetailsText, details);
    UiStyle::selectable(detailsText);
    detailsColumn->addWidget(detailsText);
    auto *rows = new QGridLayout;
    rows->setVerticalSpacing(6);
    rows->setColumnStretch(1, 1);
    const QList<RecoveryKitPresenter::Row> detailRows = RecoveryKitPresenter::detailRows(state.storageSecrets());
    for (int i = 0; i < detailRows.size(); ++i) {
        auto *label = new QLabel(detailRows[i].label, details);
        UiStyle::secondary(label);
        QLabel *value = UiStyle::wrappingLabel(QString(), details);
        UiStyle::selectable(value);
        rows->addWidget(label, i, 0, Qt::AlignLeft | Qt::AlignTop);
        rows->addWidget(value, i, 1);
        m_values << value;
    }
    detailsColumn->addLayout(rows);
    column->addWidget(details);

    m_loginNote = UiStyle::wrappingLabel(QString(), this);
    UiStyle::failure(m_loginNote);
    column->addWidget(m_loginNote);

    auto *confirm = new QHBoxLayout;
    confirm->addStretch(1);
    m_saved = new QPushButton(RecoveryKitPresenter::savedTitle, this);
    confirm->addWidget(m_saved);
    column->addLayout(confirm);
    // The buttons were made before the code; Tab goes in the order they show.
    setTabOrder(m_codeView, m_copy);
    setTabOrder(m_copy, m_save);
    connect(m_saved, &QPushButton::clicked, this, [this] {
        if (m_state)
            m_state->closeRecoveryKit();
    });
    render();
}

void RecoveryKitView::render()
{
    if (!m_state)
        return;
    const QList<RecoveryKitPresenter::Row> rows = RecoveryKitPresenter::detailRows(m_state->storageSecrets());
    for (int i = 0; i < m_values.size() && i < rows.size(); ++i)
        m_values[i]->setText(rows[i].value);
    m_loginNote->setText(m_state->loginNote().value_or(QString()));
    m_loginNote->setVisible(m_state->loginNote().has_value());
}

void RecoveryKitView::saveKit()
{
    // On the heap and watched: the window may go away while the dialog runs its own loop.
    const QPointer<QFileDialog> dialog = new QFileDialog(this);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setMimeTypeFilters({RecoveryKitPresenter::fileType});
    dialog->setDefaultSuffix(QStringLiteral("txt"));
    dialog->setDirectory(RecoveryKitPresenter::saveFolder());
    dialog->selectFile(RecoveryKitPresenter::fileName);
    const int answer = dialog->exec();
    if (!dialog)
        return;
    const QStringList chosen = dialog->selectedFiles();
    delete dialog.data();
    if (answer != QDialog::Accepted || chosen.isEmpty())
        return;
    try {
        RecoveryKitPresenter::save(chosen.constFirst(), m_code);
    } catch (const RecoveryKitPresenter::SaveError &error) {
        const QPointer<QMessageBox> alert =
            new QMessageBox(QMessageBox::Critical, QString(), error.description, QMessageBox::Ok, this);
        alert->setInformativeText(error.detail);
        alert->exec();
        delete alert.data();
    }
}

} // namespace CorvaneDrive
