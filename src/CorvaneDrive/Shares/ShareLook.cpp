#include "CorvaneDrive/Shares/ShareLook.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>

namespace ShareLook {

namespace {

// Sizes relative to the desktop's body font, in the proportions of the usual type scale.
double scale(Font font)
{
    switch (font) {
    case Font::title:
        return 1.55;
    case Font::callout:
        return 0.92;
    case Font::caption:
        return 0.85;
    case Font::body:
    case Font::headline:
        break;
    }
    return 1.0;
}

// Sets the window's height from its layout whenever the layout asks for a new size.
class HeightFollower : public QObject {
public:
    HeightFollower(QWidget *window, int width) : QObject(window), m_window(window), m_width(width)
    {
        window->installEventFilter(this);
    }

    void fit()
    {
        if (QLayout *layout = m_window->layout()) {
            const int height = layout->totalHeightForWidth(m_width);
            if (height > 0)
                m_window->setFixedHeight(height);
        }
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window && (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Show))
            fit();
        return false;
    }

private:
    QWidget *m_window;
    int m_width;
};

} // namespace

QLabel *label(const QString &text, Font font, Tone tone, bool wrap, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wrap);
    setFont(label, font);
    setTone(label, tone);
    return label;
}

void setFont(QLabel *label, Font font)
{
    QFont shown = QApplication::font(label);
    shown.setPointSizeF(shown.pointSizeF() * scale(font));
    shown.setBold(font == Font::title || font == Font::headline);
    label->setFont(shown);
}

QColor color(const QWidget *widget, Tone tone)
{
    switch (tone) {
    case Tone::secondary:
        return widget->palette().color(QPalette::PlaceholderText);
    case Tone::orange:
        return QColor(0xc6, 0x46, 0x00);
    case Tone::green:
        return QColor(0x1a, 0x7f, 0x37);
    case Tone::primary:
        break;
    }
    return widget->palette().color(QPalette::WindowText);
}

void setTone(QLabel *label, Tone tone)
{
    // Text too: a label on a list's background draws with it.
    QPalette palette = label->palette();
    const QColor shown = color(label, tone);
    palette.setColor(QPalette::WindowText, shown);
    palette.setColor(QPalette::Text, shown);
    label->setPalette(palette);
}

QWidget *spinner(QWidget *parent)
{
    auto *bar = new QProgressBar(parent);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setFixedSize(48, 10);
    return bar;
}

void fixWidth(QWidget *window, int width)
{
    window->setFixedWidth(width);
    (new HeightFollower(window, width))->fit();
}

void makeDefault(QPushButton *button)
{
    button->setDefault(true);
    for (const QKeySequence &key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
        auto *shortcut = new QShortcut(key, button);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, button, [button] {
            if (button->isVisible() && button->isEnabled())
                button->click();
        });
    }
}

void makeDestructive(QPushButton *button)
{
    QPalette palette = button->palette();
    palette.setColor(QPalette::ButtonText, QColor(0xc0, 0x1c, 0x28));
    button->setPalette(palette);
}

void copy(const QString &text)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

} // namespace ShareLook
