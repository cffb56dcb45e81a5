#include "CorvaneDrive/Shares/ShareForm.h"

#include "CorvaneDrive/Shares/ShareLook.h"
#include "CorvaneDrive/Shares/ShareWindowPresenter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextLayout>
#include <QVBoxLayout>

#include <limits>

using DriveCore::ShareExpiry;
using DriveCore::SharesModel;
using ShareLook::Font;
using ShareLook::Tone;

namespace {

constexpr int contentWidth = ShareWindowPresenter::width - 2 * ShareWindowPresenter::padding;

// The text in at most `lines` lines of `width`, the last one cut with "…" when more would follow.
QString inLines(const QString &text, const QFont &font, int width, int lines)
{
    QTextLayout layout(text, font);
    // A long name without spaces breaks anywhere rather than running past the edge.
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList shown;
    qsizetype lastStart = 0;
    for (int i = 0; i < lines; ++i) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        lastStart = line.textStart();
        shown.append(text.mid(line.textStart(), line.textLength()).trimmed());
    }
    QTextLine next = layout.createLine();
    const bool more = next.isValid();
    layout.endLayout();
    if (more && !shown.isEmpty())
        shown.last() = QFontMetrics(font).elidedText(text.mid(lastStart), Qt::ElideRight, width);
    return shown.join(u'\n');
}

} // namespace

DownloadLimitBox::DownloadLimitBox(QWidget *parent) : QSpinBox(parent)
{
    setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    setGroupSeparatorShown(true);
    setLocale(QLocale());
}

void DownloadLimitBox::stepBy(int steps)
{
    setValue(int(ShareFormPresenter::stepped(value(), steps)));
    selectAll();
}

QAbstractSpinBox::StepEnabled DownloadLimitBox::stepEnabled() const
{
    StepEnabled enabled = StepNone;
    if (ShareFormPresenter::stepped(value(), 1) != value())
        enabled |= StepUpEnabled;
    if (ShareFormPresenter::stepped(value(), -1) != value())
        enabled |= StepDownEnabled;
    return enabled;
}

ShareForm::ShareForm(SharesModel &shares, QWidget *parent) : QWidget(parent), m_shares(&shares)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(ShareWindowPresenter::spacing);

    m_heading = ShareLook::label({}, Font::title);
    column->addWidget(m_heading);
    column->addWidget(ShareLook::label(ShareFormPresenter::explanationText, Font::body, Tone::secondary));

    auto *group = new QGroupBox;
    m_options = new QFormLayout(group);
    m_options->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    m_options->setLabelAlignment(Qt::AlignLeft);

    m_expiry = new QComboBox;
    for (const auto &[label, value] : ShareFormPresenter::expiryOptions)
        m_expiry->addItem(label, int(value));
    m_expiry->setCurrentIndex(m_expiry->findData(int(m_presenter.expiry.value)));
    connect(m_expiry, &QComboBox::activated, this, [this](int index) {
        m_presenter.expiry = ShareExpiry::Value(m_expiry->itemData(index).toInt());
        render();
    });
    m_options->addRow(ShareFormPresenter::expiryLabel, m_expiry);
    setFocusProxy(m_expiry);

    m_limit = new QComboBox;
    for (const auto &[label, value] : ShareFormPresenter::limitOptions)
        m_limit->addItem(label, int(value));
    m_limit->setCurrentIndex(m_limit->findData(int(m_presenter.limit)));
    connect(m_limit, &QComboBox::activated, this, [this](int index) {
        m_presenter.limit = ShareFormPresenter::Limit(m_limit->itemData(index).toInt());
        render();
    });
    m_options->addRow(ShareFormPresenter::limitLabel, m_limit);

    m_customLimit = new DownloadLimitBox;
    m_customLimit->setAccessibleName(ShareFormPresenter::customLimitLabel);
    // The focus goes into the box's own field, which a screen reader announces by itself.
    if (auto *field = m_customLimit->findChild<QLineEdit *>())
        field->setAccessibleName(ShareFormPresenter::customLimitLabel);
    m_customLimit->setValue(int(m_presenter.customLimit));
    // The field is numberFieldWidth wide; the stepper's arrows come on top.
    m_customLimit->setFixedWidth(ShareFormPresenter::numberFieldWidth + 20);
    connect(m_customLimit, &QSpinBox::valueChanged, this, [this](int value) {
        m_presenter.customLimit = value;
        render();
    });
    m_options->addRow(ShareFormPresenter::customLimitLabel, m_customLimit);

    m_usePassword = new QCheckBox(ShareFormPresenter::passwordToggleTitle);
    connect(m_usePassword, &QCheckBox::toggled, this, [this](bool on) {
        m_presenter.usePassword = on;
        render();
        if (on)
            m_password->setFocus();
    });
    m_options->addRow(m_usePassword);

    m_password = new QLineEdit;
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setMinimumWidth(220);
    connect(m_password, &QLineEdit::textEdited, this, [this](const QString &text) {
        m_presenter.password = text;
        render();
    });
    m_options->addRow(ShareFormPresenter::passwordLabel, m_password);
    m_passwordNote = ShareLook::label(ShareFormPresenter::passwordNote, Font::callout, Tone::secondary);
    m_options->addRow(m_passwordNote);
    column->addWidget(group);

    m_neverNote = ShareLook::label(ShareFormPresenter::neverNote, Font::callout, Tone::secondary);
    column->addWidget(m_neverNote);
    m_blocked = ShareLook::label({}, Font::body, Tone::orange);
    column->addWidget(m_blocked);
    m_failure = ShareLook::label({}, Font::body, Tone::orange);
    column->addWidget(m_failure);

    auto *row = new QHBoxLayout;
    row->addStretch();
    m_create = new QPushButton(ShareFormPresenter::createTitle);
    ShareLook::makeDefault(m_create);
    connect(m_create, &QPushButton::clicked, this, &ShareForm::create);
    row->addWidget(m_create);
    column->addLayout(row);

    connect(&shares, &SharesModel::changed, this, &ShareForm::render);
    render();
}

void ShareForm::render()
{
    if (!m_shares)
        return;
    // Two lines at most, the whole heading in the tooltip and for a screen reader.
    const QString heading = ShareFormPresenter::heading(m_shares->pickedTitle());
    m_heading->setText(inLines(ShareLook::breakable(heading), m_heading->font(), contentWidth, 2));
    m_heading->setToolTip(heading);
    m_heading->setAccessibleName(heading);
    m_options->setRowVisible(m_customLimit, m_presenter.showsCustomLimit());
    m_options->setRowVisible(m_password, m_presenter.showsPassword());
    m_options->setRowVisible(m_passwordNote, m_presenter.showsPassword());
    m_neverNote->setVisible(m_presenter.showsNeverNote());
    const std::optional<QString> blocked = m_shares->createBlockedReason();
    ShareLook::setBreakableText(m_blocked, blocked.value_or(QString()));
    m_blocked->setVisible(blocked.has_value());
    const std::optional<QString> failure = ShareFormPresenter::failureText(m_shares->createState());
    ShareLook::setBreakableText(m_failure, failure.value_or(QString()));
    m_failure->setVisible(failure.has_value());
    m_create->setEnabled(m_presenter.canCreate(!m_shares->picked().isEmpty(), blocked));
}

void ShareForm::create()
{
    if (!m_shares || !m_presenter.canCreate(!m_shares->picked().isEmpty(), m_shares->createBlockedReason()))
        return;
    m_shares->create(m_presenter.options());
}
