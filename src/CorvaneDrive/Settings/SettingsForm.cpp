#include "CorvaneDrive/Settings/SettingsForm.h"

#include "CorvaneDrive/Settings/SettingsSheet.h"
#include "CorvaneDrive/UiStyle.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

namespace CorvaneDrive {

namespace {

constexpr int margin = 20;
constexpr int sectionSpacing = 6; // between a section and its note
constexpr int spacing = 16; // between sections

} // namespace

SettingsForm::SettingsForm(QWidget *parent)
    : QScrollArea(parent), m_body(new QWidget(this)), m_column(new QVBoxLayout(m_body))
{
    setFrameShape(QFrame::NoFrame);
    // Tab goes straight to the controls; the area scrolls to the one that takes focus.
    setFocusPolicy(Qt::NoFocus);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_column->setContentsMargins(margin, margin, margin, margin);
    m_column->setSpacing(spacing);
    m_error = UiStyle::wrappingLabel(QString(), m_body);
    UiStyle::failure(m_error);
    UiStyle::selectable(m_error);
    m_error->hide();
    m_column->addWidget(m_error);
    m_column->addStretch(1);
    setWidget(m_body);
}

QFormLayout *SettingsForm::addSection(const QString &header, const QString &footer, QLabel **footerLabel,
                                      QWidget **section)
{
    auto *block = new QWidget(m_body);
    auto *stack = new QVBoxLayout(block);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(sectionSpacing);
    auto *group = new QGroupBox(header, block);
    auto *rows = new QFormLayout(group);
    rows->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    rows->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    stack->addWidget(group);
    QLabel *note = UiStyle::wrappingLabel(footer, block);
    UiStyle::callout(note);
    UiStyle::secondary(note);
    note->setContentsMargins(4, 0, 4, 0);
    note->setVisible(!footer.isEmpty());
    stack->addWidget(note);
    // Before the error line and the stretch.
    m_column->insertWidget(m_column->indexOf(m_error), block);
    if (footerLabel)
        *footerLabel = note;
    if (section)
        *section = block;
    return rows;
}

void SettingsForm::showError(const std::optional<QString> &error)
{
    showLine(m_error, error);
}

} // namespace CorvaneDrive
