#include "CorvaneDrive/CodeView.h"

#include "CorvaneDrive/UiStyle.h"

#include <QPainter>
#include <QTextDocument>
#include <QtMath>

#include <memory>

namespace CorvaneDrive {

CodeView::CodeView(const QString &code, QWidget *parent) : QTextEdit(parent)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWordWrapMode(QTextOption::WrapAnywhere);
    setTabChangesFocus(true);
    UiStyle::monospaced(this);
    document()->setDocumentMargin(8);
    viewport()->setAutoFillBackground(false);
    setPlainText(code);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

int CodeView::heightForWidth(int width) const
{
    std::unique_ptr<QTextDocument> copy(document()->clone());
    copy->setTextWidth(width);
    return qCeil(copy->size().height());
}

QSize CodeView::sizeHint() const
{
    return {200, heightForWidth(200)};
}

void CodeView::paintEvent(QPaintEvent *event)
{
    {
        QPainter painter(viewport());
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = palette().color(QPalette::Text);
        fill.setAlphaF(0.06f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(viewport()->rect(), 6, 6);
    }
    QTextEdit::paintEvent(event);
}

void CodeView::resizeEvent(QResizeEvent *event)
{
    QTextEdit::resizeEvent(event);
    updateGeometry();
}

} // namespace CorvaneDrive
