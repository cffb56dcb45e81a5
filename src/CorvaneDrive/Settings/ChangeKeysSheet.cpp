#include "CorvaneDrive/Settings/ChangeKeysSheet.h"

#include "CorvaneDrive/Settings/SettingsPresenter.h"
#include "CorvaneDrive/UiStyle.h"
#include "DriveCore/model/AppModel.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

namespace CorvaneDrive {

namespace {

QLineEdit *field(QWidget *parent, const QString &label, bool masked)
{
    auto *edit = new QLineEdit(parent);
    edit->setEchoMode(masked ? QLineEdit::Password : QLineEdit::Normal);
    edit->setAccessibleName(label);
    return edit;
}

} // namespace

ChangeKeysSheet::ChangeKeysSheet(DriveCore::AppModel &model, DriveCore::HTTPSend send, QWidget *parent)
    : SettingsSheet(ChangeKeysPresenter::title, ChangeKeysPresenter::width, parent), m_model(&model),
      m_send(std::move(send)), m_tokenSegment(new QRadioButton(ChangeKeysPresenter::tokenSegment)),
      m_keysSegment(new QRadioButton(ChangeKeysPresenter::keysSegment))
{
    QLabel *explanation = UiStyle::wrappingLabel(ChangeKeysPresenter::explanation, this);
    UiStyle::secondary(explanation);
    column()->addWidget(explanation);
    column()->addWidget(UiStyle::segments(m_tokenSegment, m_keysSegment, this));
    m_hint = UiStyle::wrappingLabel(ChangeKeysPresenter::tokenHint, this);
    UiStyle::callout(m_hint);
    UiStyle::secondary(m_hint);
    column()->addWidget(m_hint);

    auto *form = new QFormLayout;
    form->setContentsMargins(0, 0, 0, 0);
    form->setVerticalSpacing(style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing));
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_endpoint = field(this, ChangeKeysPresenter::endpointLabel, false);
    m_bucket = field(this, ChangeKeysPresenter::bucketLabel, false);
    m_token = field(this, ChangeKeysPresenter::tokenLabel, true);
    m_accessKeyID = field(this, ChangeKeysPresenter::accessKeyIDLabel, false);
    m_secretAccessKey = field(this, ChangeKeysPresenter::secretAccessKeyLabel, true);
    form->addRow(ChangeKeysPresenter::endpointLabel, m_endpoint);
    form->addRow(ChangeKeysPresenter::bucketLabel, m_bucket);
    form->addRow(ChangeKeysPresenter::tokenLabel, m_token);
    form->addRow(ChangeKeysPresenter::accessKeyIDLabel, m_accessKeyID);
    form->addRow(ChangeKeysPresenter::secretAccessKeyLabel, m_secretAccessKey);
    column()->addLayout(form);
    m_failure = addFailureLine();

    m_indicator = UiStyle::busyIndicator(this);
    m_checking = new QLabel(ChangeKeysPresenter::checkingText, this);
    // The wait sits at the left of the row, the buttons at the right.
    buttonRow()->insertWidget(0, m_indicator);
    buttonRow()->insertWidget(1, m_checking);
    m_cancel = addButton(SettingsPresenter::cancelTitle);
    m_save = addButton(ChangeKeysPresenter::saveTitle);
    setDefaultButton(m_save);

    // Every field keeps what was typed, also while its mode hides it.
    const auto bind = [this](QLineEdit *edit, QString ChangeKeysPresenter::*member) {
        connect(edit, &QLineEdit::textEdited, this, [this, member](const QString &text) {
            m_state.*member = text;
            render();
        });
    };
    bind(m_endpoint, &ChangeKeysPresenter::endpoint);
    bind(m_bucket, &ChangeKeysPresenter::bucket);
    bind(m_token, &ChangeKeysPresenter::cloudflareKey);
    bind(m_accessKeyID, &ChangeKeysPresenter::accessKeyID);
    bind(m_secretAccessKey, &ChangeKeysPresenter::secretAccessKey);
    connect(m_tokenSegment, &QRadioButton::toggled, this, [this, form](bool on) {
        m_state.useCloudflareKey = on;
        form->setRowVisible(m_token, on);
        form->setRowVisible(m_accessKeyID, !on);
        form->setRowVisible(m_secretAccessKey, !on);
        render();
    });
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_save, &QPushButton::clicked, this, &ChangeKeysSheet::save);

    m_tokenSegment->setChecked(true);
    form->setRowVisible(m_accessKeyID, false);
    form->setRowVisible(m_secretAccessKey, false);
    m_endpoint->setFocus();
    render();
}

void ChangeKeysSheet::render()
{
    m_hint->setVisible(m_state.useCloudflareKey);
    showLine(m_failure, m_error);
    m_indicator->setVisible(m_state.working);
    m_checking->setVisible(m_state.working);
    m_save->setEnabled(m_state.canSave());
}

void ChangeKeysSheet::save()
{
    if (!m_state.canSave())
        return;
    m_state.working = true;
    render();
    saving(this, m_model, m_state, m_send);
}

QCoro::Task<> ChangeKeysSheet::saving(QPointer<ChangeKeysSheet> self, QPointer<DriveCore::AppModel> model,
                                      ChangeKeysPresenter fields, DriveCore::HTTPSend send)
{
    std::exception_ptr failure;
    try {
        if (!model)
            throw DriveCore::OwnerGone();
        if (fields.useCloudflareKey) {
            // The model trims the token itself.
            co_await model->replaceStorageKeys(fields.cloudflareKey, fields.endpoint.trimmed(), fields.bucket.trimmed(),
                                               send);
        } else {
            co_await model->replaceStorageKeys(fields.secrets(), std::nullopt);
        }
    } catch (...) {
        failure = std::current_exception();
    }
    // Closing the sheet does not stop the change; it only has nobody to tell.
    if (!self)
        co_return;
    if (!failure) {
        self->accept();
        self->m_state.working = false;
        co_return;
    }
    self->m_error = SettingsPresenter::failureText(failure);
    self->m_state.working = false;
    self->render();
}

} // namespace CorvaneDrive
