#include "CorvaneDrive/Shares/ShareLook.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QTextBoundaryFinder>

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
            // The filter runs before the layout's own handling of the request, which is what
            // drops its cached heights: without this a face's new height counts only next time.
            layout->invalidate();
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

QString breakable(const QString &text)
{
    // Longer than any word of the windows' own texts, short enough for the narrowest label.
    constexpr qsizetype longWord = 20;
    static const QRegularExpression words(QStringLiteral("\\S{%1,}").arg(longWord + 1));
    QString shown;
    qsizetype done = 0;
    for (const QRegularExpressionMatch &word : words.globalMatch(text)) {
        shown += QStringView(text).mid(done, word.capturedStart() - done);
        const QString part = word.captured();
        QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, part);
        qsizetype from = 0;
        for (qsizetype to = graphemes.toNextBoundary(); to > 0; to = graphemes.toNextBoundary()) {
            // Never before a closing quote or stop, which would start a line on its own.
            const QChar::Category kind = part.at(from).category();
            if (from > 0 && kind != QChar::Punctuation_FinalQuote && kind != QChar::Punctuation_Close
                && kind != QChar::Punctuation_Other)
                shown += QChar(0x200B);
            shown += QStringView(part).mid(from, to - from);
            from = to;
        }
        done = word.capturedEnd();
    }
    shown += QStringView(text).mid(done);
    return shown;
}

void setBreakableText(QLabel *label, const QString &text)
{
    const QString shown = breakable(text);
    label->setText(shown);
    label->setAccessibleName(shown == text ? QString() : text);
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

void closeWithKeyboard(QWidget *window)
{
    // One shortcut for all keys: two for the same key in a window would cancel each other out.
    // Ctrl+W by name, since the desktop's close keys need not hold it.
    QList<QKeySequence> keys{QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)};
    for (const QKeySequence &close : QKeySequence::keyBindings(QKeySequence::Close)) {
        if (!keys.contains(close))
            keys.append(close);
    }
    auto *shortcut = new QShortcut(window);
    shortcut->setKeys(keys);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, window, &QWidget::close);
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
