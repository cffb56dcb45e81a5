#include "CorvaneDrive/Settings/RecoveryKitSheet.h"

#include "CorvaneDrive/CodeView.h"
#include "CorvaneDrive/UiStyle.h"
#include "DriveCore/model/AppModel.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace CorvaneDrive {

namespace {

QCoro::Task<QString> showKit(QPointer<DriveCore::AppModel> model, QString passphrase)
{
    if (!model)
        throw DriveCore::OwnerGone();
    co_return co_await model->showRecoveryKit(std::move(passphrase));
}

} // namespace

RecoveryKitSheet::RecoveryKitSheet(DriveCore::AppModel &model, QWidget *parent)
    : PassphraseSheet(
          title, {prompt}, showTitle,
          [model = QPointer(&model)](QString passphrase) { return showKit(model, std::move(passphrase)); }, parent)
{
}

void RecoveryKitSheet::succeeded(const QString &code)
{
    m_code = code;
    leaveAsking();
    column()->addWidget(UiStyle::wrappingLabel(saveText, this));
    m_codeView = new CodeView(code, this);
    m_codeView->setAccessibleName(CodeView::recoveryKitName);
    column()->addWidget(m_codeView);
    m_copyButton = addButton(copyTitle);
    m_doneButton = addButton(doneTitle);
    setDefaultButton(m_doneButton);
    connect(m_copyButton, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(*m_code); });
    connect(m_doneButton, &QPushButton::clicked, this, &QDialog::accept);
    m_doneButton->setFocus();
}

} // namespace CorvaneDrive
