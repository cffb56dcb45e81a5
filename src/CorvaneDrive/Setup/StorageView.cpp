#include "CorvaneDrive/Setup/StorageView.h"

#include "CorvaneDrive/Binding.h"
#include "CorvaneDrive/CodeView.h"
#include "CorvaneDrive/Setup/SetupFlowPresenter.h"
#include "CorvaneDrive/Setup/SetupFooter.h"
#include "CorvaneDrive/UiStyle.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTextDocument>
#include <QVBoxLayout>

namespace CorvaneDrive {

using DriveCore::SetupState;

namespace {

// The code field is 3 lines tall at least and grows to 6, scrolling beyond.
constexpr int codeMinLines = 3;
constexpr int codeMaxLines = 6;

void fitLines(QPlainTextEdit *field)
{
    const int lines =
        std::clamp(int(field->document()->documentLayout()->documentSize().height()), codeMinLines, codeMaxLines);
    const int chrome = 2 * field->frameWidth() + int(2 * field->document()->documentMargin())
        + field->contentsMargins().top() + field->contentsMargins().bottom();
    field->setFixedHeight(lines * field->fontMetrics().lineSpacing() + chrome);
}

QLineEdit *field(QWidget *parent, bool masked = false, const QString &placeholder = {})
{
    auto *edit = new QLineEdit(parent);
    edit->setEchoMode(masked ? QLineEdit::Password : QLineEdit::Normal);
    edit->setPlaceholderText(placeholder);
    return edit;
}

} // namespace

StorageView::StorageView(SetupState &state, const SetupContext &context, QWidget *parent)
    : SetupScreenView(parent), m_state(&state), m_context(context)
{
    QVBoxLayout *column = startColumn(SetupFlowPresenter::routerSpacing, StoragePresenter::title);

    m_pasteKit = new QRadioButton(StoragePresenter::pasteKitSegment);
    m_manual = new QRadioButton(StoragePresenter::manualSegment);
    m_entryPicker = UiStyle::segments(m_pasteKit, m_manual, this);
    column->addWidget(m_entryPicker);

    // Recovery Kit body.
    m_kitBody = new QWidget(this);
    auto *kit = new QVBoxLayout(m_kitBody);
    kit->setContentsMargins(0, 0, 0, 0);
    kit->setSpacing(SetupFlowPresenter::routerSpacing);
    kit->addWidget(UiStyle::wrappingLabel(StoragePresenter::kitIntro, m_kitBody));
    m_code = new QPlainTextEdit(m_kitBody);
    m_code->setPlaceholderText(StoragePresenter::codePlaceholder);
    m_code->setAccessibleName(CodeView::recoveryKitName);
    UiStyle::monospaced(m_code);
    m_code->setTabChangesFocus(true);
    m_code->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    fitLines(m_code);
    kit->addWidget(m_code);
    m_kitPassphrase = field(m_kitBody, true, StoragePresenter::passphraseTitle);
    m_kitPassphrase->setAccessibleName(StoragePresenter::passphraseTitle);
    kit->addWidget(m_kitPassphrase);
    column->addWidget(m_kitBody);

    // Manual body.
    m_manualBody = new QWidget(this);
    auto *manual = new QVBoxLayout(m_manualBody);
    manual->setContentsMargins(0, 0, 0, 0);
    manual->setSpacing(SetupFlowPresenter::routerSpacing);
    m_cloudflareKey = new QRadioButton(StoragePresenter::cloudflareKeySegment);
    m_storageKeys = new QRadioButton(StoragePresenter::storageKeysSegment);
    manual->addWidget(UiStyle::segments(m_cloudflareKey, m_storageKeys, m_manualBody));
    m_cloudflarePanel = panel(StoragePresenter::cloudflareKeyInstructions());
    m_r2Panel = panel(StoragePresenter::r2Instructions());
    m_existingLine = UiStyle::wrappingLabel(StoragePresenter::existingDriveLine, m_manualBody);
    manual->addWidget(m_cloudflarePanel);
    manual->addWidget(m_r2Panel);
    manual->addWidget(m_existingLine);
    m_form = new QFormLayout;
    m_form->setContentsMargins(0, 0, 0, 0);
    // The style's own spacing, not the screen column's.
    m_form->setVerticalSpacing(style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing));
    m_form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_endpoint = field(m_manualBody, false, StoragePresenter::endpointPlaceholder());
    m_bucket = field(m_manualBody);
    m_token = field(m_manualBody, true);
    m_accessKeyID = field(m_manualBody);
    m_secretAccessKey = field(m_manualBody, true);
    m_form->addRow(StoragePresenter::endpointTitle, m_endpoint);
    m_form->addRow(StoragePresenter::bucketTitle, m_bucket);
    m_form->addRow(StoragePresenter::cloudflareKeyTitle, m_token);
    m_form->addRow(StoragePresenter::accessKeyIDTitle, m_accessKeyID);
    m_form->addRow(StoragePresenter::secretAccessKeyTitle, m_secretAccessKey);
    manual->addLayout(m_form);
    column->addWidget(m_manualBody);

    m_footer = new SetupFooter(state, this);
    column->addWidget(m_footer);

    // Every control writes its field as it changes; nothing is trimmed here.
    const auto bind = [this](QLineEdit *edit, void (SetupState::*set)(const QString &)) {
        connect(edit, &QLineEdit::textEdited, this, [this, set](const QString &text) {
            if (m_state)
                (m_state->*set)(text);
        });
    };
    bind(m_kitPassphrase, &SetupState::setRecoveryKitPassphrase);
    bind(m_endpoint, &SetupState::setEndpoint);
    bind(m_bucket, &SetupState::setBucket);
    bind(m_token, &SetupState::setCloudflareKey);
    bind(m_accessKeyID, &SetupState::setAccessKeyID);
    bind(m_secretAccessKey, &SetupState::setSecretAccessKey);
    connect(m_code, &QPlainTextEdit::textChanged, this, [this] {
        fitLines(m_code);
        if (m_state)
            m_state->setRecoveryKitCode(m_code->toPlainText());
    });
    const auto choose = [this](QRadioButton *button, auto apply) {
        connect(button, &QRadioButton::toggled, this, [this, apply](bool on) {
            if (on && m_state)
                apply(*m_state);
        });
    };
    choose(m_pasteKit, [](SetupState &s) { s.setStorageEntry(SetupState::StorageEntry::recoveryKit); });
    choose(m_manual, [](SetupState &s) { s.setStorageEntry(SetupState::StorageEntry::manual); });
    choose(m_cloudflareKey, [](SetupState &s) { s.setUseCloudflareKey(true); });
    choose(m_storageKeys, [](SetupState &s) { s.setUseCloudflareKey(false); });

    render();
}

QWidget *StorageView::panel(const StoragePresenter::Panel &content)
{
    auto *box = new QWidget(m_manualBody);
    auto *lines = new QVBoxLayout(box);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(6);
    UiStyle::callout(box);
    for (const QString &line : content.lines)
        lines->addWidget(UiStyle::wrappingLabel(line, box));
    if (content.note) {
        QLabel *note = UiStyle::wrappingLabel(*content.note, box);
        UiStyle::secondary(note);
        lines->addWidget(note);
    }
    // A button drawn as a link: one Tab stop, left in both directions like any other control.
    auto *link = new QPushButton(content.linkTitle, box);
    link->setFlat(true);
    link->setCursor(Qt::PointingHandCursor);
    link->setAutoDefault(false);
    link->setStyleSheet(
        QStringLiteral("QPushButton { text-align: left; padding: 0; border: none; color: palette(link); "
                       "text-decoration: underline; }"));
    link->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    connect(link, &QPushButton::clicked, this, [this, address = content.link] { m_context.openUrl(address); });
    lines->addWidget(link, 0, Qt::AlignLeft);
    return box;
}

void StorageView::render()
{
    if (!m_state)
        return;
    const SetupState &state = *m_state;
    const StoragePresenter::Face face = StoragePresenter::face(state);
    using Body = StoragePresenter::Body;
    using Explanation = StoragePresenter::Explanation;

    m_entryPicker->setVisible(face.showsEntryPicker);
    Binding::show(m_pasteKit, state.storageEntry() == SetupState::StorageEntry::recoveryKit);
    Binding::show(m_manual, state.storageEntry() == SetupState::StorageEntry::manual);
    m_kitBody->setVisible(face.body == Body::recoveryKit);
    m_manualBody->setVisible(face.body == Body::manual);

    Binding::show(m_cloudflareKey, state.useCloudflareKey());
    Binding::show(m_storageKeys, !state.useCloudflareKey());
    m_cloudflarePanel->setVisible(face.explanation == Explanation::cloudflareKeyInstructions);
    m_r2Panel->setVisible(face.explanation == Explanation::r2Instructions);
    m_existingLine->setVisible(face.explanation == Explanation::existingDriveLine);
    // Hidden fields keep their contents.
    m_form->setRowVisible(m_token, face.showsCloudflareKey);
    m_form->setRowVisible(m_accessKeyID, !face.showsCloudflareKey);
    m_form->setRowVisible(m_secretAccessKey, !face.showsCloudflareKey);

    Binding::show(m_code, state.recoveryKitCode());
    Binding::show(m_kitPassphrase, state.recoveryKitPassphrase());
    Binding::show(m_endpoint, state.endpoint());
    Binding::show(m_bucket, state.bucket());
    Binding::show(m_token, state.cloudflareKey());
    Binding::show(m_accessKeyID, state.accessKeyID());
    Binding::show(m_secretAccessKey, state.secretAccessKey());
    m_footer->render();
}

QPushButton *StorageView::defaultButton() const
{
    return m_footer->primaryButton();
}

QWidget *StorageView::fieldForError(const QString &error) const
{
    if (error == SetupState::kitBadFormatText)
        return m_code;
    if (error == SetupState::kitWrongPassphraseText)
        return m_kitPassphrase;
    return nullptr;
}

QWidget *StorageView::firstField() const
{
    if (m_kitBody->isVisibleTo(this))
        return m_code;
    return m_endpoint;
}

std::optional<StoragePresenter::Explanation> StorageView::shownExplanation() const
{
    if (m_cloudflarePanel->isVisibleTo(this))
        return StoragePresenter::Explanation::cloudflareKeyInstructions;
    if (m_r2Panel->isVisibleTo(this))
        return StoragePresenter::Explanation::r2Instructions;
    if (m_existingLine->isVisibleTo(this))
        return StoragePresenter::Explanation::existingDriveLine;
    return std::nullopt;
}

} // namespace CorvaneDrive
