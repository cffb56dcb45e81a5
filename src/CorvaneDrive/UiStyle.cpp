#include "CorvaneDrive/UiStyle.h"

#include <QButtonGroup>
#include <QEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>

namespace CorvaneDrive::UiStyle {

namespace {

void scaleFont(QWidget *widget, double factor, bool bold)
{
    QFont font = widget->font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    else
        font.setPixelSize(qMax(1, qRound(font.pixelSize() * factor)));
    font.setBold(bold);
    widget->setFont(font);
}

// Keys that reach the window unused: Return and Enter press the default button. Every widget
// between the focus and the window had its turn first, so a multi-line field keeps its line
// breaks and a focused button presses itself.
class DefaultButtonFilter : public QObject {
public:
    static constexpr const char *name = "corvane-default-button";

    explicit DefaultButtonFilter(QWidget *window) : QObject(window) { setObjectName(QLatin1String(name)); }

    QPointer<QPushButton> button;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress || watched != parent())
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() & ~Qt::KeypadModifier)
            return false;
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            return false;
        if (button && button->isVisibleTo(button->window()) && button->isEnabled())
            button->click();
        return true;
    }
};

} // namespace

void heading(QWidget *widget)
{
    scaleFont(widget, 1.7, true);
}
void title2(QWidget *widget)
{
    scaleFont(widget, 1.4, true);
}
void headline(QWidget *widget)
{
    scaleFont(widget, 1.0, true);
}
void callout(QWidget *widget)
{
    scaleFont(widget, 0.92, widget->font().bold());
}
void caption(QWidget *widget)
{
    scaleFont(widget, 0.85, false);
}

void monospaced(QWidget *widget)
{
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(widget->font().pointSizeF() > 0 ? widget->font().pointSizeF() : fixed.pointSizeF());
    widget->setFont(fixed);
}

void secondary(QWidget *widget)
{
    widget->setForegroundRole(QPalette::PlaceholderText);
}

QColor orange()
{
    return QColor(0xe6, 0x61, 0x00);
}

void failure(QWidget *widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, orange());
    palette.setColor(QPalette::Text, orange());
    widget->setPalette(palette);
    widget->setForegroundRole(QPalette::WindowText);
}

QLabel *wrappingLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true); // also marks its height as following its width
    return label;
}

void selectable(QLabel *label)
{
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

QIcon icon(const QString &name)
{
    // Without a desktop's platform theme (the offscreen platform, a bare X session) Qt knows
    // neither a theme nor the data folders that hold them.
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == u"hicolor") {
        QStringList paths = QIcon::themeSearchPaths();
        for (const QString &folder : QStandardPaths::locateAll(
                 QStandardPaths::GenericDataLocation, QStringLiteral("icons"), QStandardPaths::LocateDirectory))
            if (!paths.contains(folder))
                paths << folder;
        QIcon::setThemeSearchPaths(paths);
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    }
    if (QIcon::hasThemeIcon(name))
        return QIcon::fromTheme(name);
    return QIcon::fromTheme(name + QStringLiteral("-symbolic"));
}

QWidget *segments(QRadioButton *first, QRadioButton *second, QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(first);
    layout->addWidget(second);
    layout->addStretch(1);
    auto *group = new QButtonGroup(row);
    group->addButton(first);
    group->addButton(second);
    return row;
}

QProgressBar *busyIndicator(QWidget *parent)
{
    auto *indicator = new QProgressBar(parent);
    indicator->setRange(0, 0); // indeterminate
    indicator->setTextVisible(false);
    indicator->setFixedSize(48, 10);
    return indicator;
}

void setDefaultButton(QWidget *window, QPushButton *button)
{
    // Found by name: the filter has no meta-object of its own for a cast to tell it apart.
    auto *filter = static_cast<DefaultButtonFilter *>(
        window->findChild<QObject *>(QLatin1String(DefaultButtonFilter::name), Qt::FindDirectChildrenOnly));
    if (!filter) {
        filter = new DefaultButtonFilter(window);
        window->installEventFilter(filter);
    }
    if (filter->button && filter->button != button)
        filter->button->setDefault(false);
    filter->button = button;
    if (button) {
        button->setDefault(true);
        button->setAutoDefault(false);
    }
}

} // namespace CorvaneDrive::UiStyle
