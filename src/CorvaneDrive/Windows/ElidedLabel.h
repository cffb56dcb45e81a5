#pragma once

#include <QLabel>
#include <QResizeEvent>

namespace CorvaneDrive {

// One line of plain text shortened in the middle to the width it gets, so that a long name
// keeps its start and its extension; the whole text is its tooltip.
class ElidedLabel : public QLabel {
public:
    explicit ElidedLabel(QWidget *parent = nullptr) : QLabel(parent)
    {
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    }

    // It takes whatever width is left, and no more than that is asked for it.
    QSize sizeHint() const override { return {0, QLabel::sizeHint().height()}; }
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

    void setFullText(const QString &text)
    {
        m_full = text;
        setToolTip(text);
        elide();
    }
    const QString &fullText() const { return m_full; }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        elide();
    }

private:
    void elide() { setText(fontMetrics().elidedText(m_full, Qt::ElideMiddle, std::max(0, contentsRect().width()))); }

    QString m_full;
};

} // namespace CorvaneDrive
