#include "CorvaneDrive/Setup/SetupStatusArea.h"

#include "CorvaneDrive/UiStyle.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace CorvaneDrive {

// The error line, which a screen reader announces as an alert when it shows or changes.
class SetupAlertLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
};

namespace {

class AlertLabelAccessible : public QAccessibleWidget {
public:
    explicit AlertLabelAccessible(QWidget *label) : QAccessibleWidget(label, QAccessible::AlertMessage) {}

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name)
            return static_cast<QLabel *>(widget())->text();
        return QAccessibleWidget::text(kind);
    }
};

QAccessibleInterface *alertLabelFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String(SetupAlertLabel::staticMetaObject.className()) && object && object->isWidgetType())
        return new AlertLabelAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

QLabel *alertLabel(QWidget *parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(alertLabelFactory);
        return true;
    }();
    Q_UNUSED(installed);
    auto *label = new SetupAlertLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

} // namespace

SetupStatusArea::SetupStatusArea(QWidget *parent)
    : QWidget(parent), m_busyRow(new QWidget(this)), m_indicator(UiStyle::busyIndicator(m_busyRow)),
      m_busyText(new QLabel(m_busyRow)), m_errorColumn(new QWidget(this)), m_errorText(alertLabel(m_errorColumn)),
      m_detailsButton(new QToolButton(m_errorColumn)), m_detailsText(UiStyle::wrappingLabel(QString(), m_errorColumn))
{
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    stack->addWidget(m_busyRow);
    stack->addWidget(m_errorColumn);

    auto *busy = new QHBoxLayout(m_busyRow);
    busy->setContentsMargins(0, 0, 0, 0);
    busy->addWidget(m_indicator);
    busy->addWidget(m_busyText, 1);

    auto *error = new QVBoxLayout(m_errorColumn);
    error->setContentsMargins(0, 0, 0, 0);
    error->setSpacing(SetupFlowPresenter::statusSpacing);
    UiStyle::failure(m_errorText);
    UiStyle::selectable(m_errorText);
    error->addWidget(m_errorText);
    m_detailsButton->setText(SetupFlowPresenter::detailsTitle);
    m_detailsButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_detailsButton->setAutoRaise(true);
    m_detailsButton->setCheckable(true);
    m_detailsButton->setFocusPolicy(Qt::StrongFocus);
    error->addWidget(m_detailsButton, 0, Qt::AlignLeft);
    UiStyle::caption(m_detailsText);
    UiStyle::selectable(m_detailsText);
    error->addWidget(m_detailsText);
    connect(m_detailsButton, &QToolButton::toggled, this, &SetupStatusArea::setDetailsOpen);

    setDetailsOpen(false);
    render({});
}

void SetupStatusArea::render(const SetupFlowPresenter::Status &status)
{
    using Status = SetupFlowPresenter::Status;
    // A new failure shows its details closed again.
    if (status.kind == Status::error && !(m_shown.kind == Status::error && m_shown == status))
        m_detailsButton->setChecked(false);
    m_shown = status;

    const bool announce = status.kind == Status::error
        && (!m_errorColumn->isVisibleTo(this) || !isVisibleTo(parentWidget()) || m_errorText->text() != status.text);
    m_busyRow->setVisible(status.kind == Status::busy);
    m_busyText->setText(status.kind == Status::busy ? status.text : QString());
    m_errorColumn->setVisible(status.kind == Status::error);
    m_errorText->setText(status.kind == Status::error ? status.text : QString());
    m_detailsButton->setVisible(status.kind == Status::error && status.details.has_value());
    m_detailsText->setText(status.details.value_or(QString()));
    setDetailsOpen(m_detailsButton->isChecked());
    setVisible(status.kind != Status::none);
    if (announce && m_errorText->isVisible()) {
        QAccessibleEvent alert(m_errorText, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
}

bool SetupStatusArea::detailsOpen() const
{
    return m_detailsButton->isChecked();
}

void SetupStatusArea::setDetailsOpen(bool open)
{
    m_detailsButton->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    m_detailsText->setVisible(open && m_shown.details.has_value());
}

} // namespace CorvaneDrive

#include "SetupStatusArea.moc"
