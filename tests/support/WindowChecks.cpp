#include "support/WindowChecks.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTextDocument>

#include <gtest/gtest.h>

namespace TestSupport {

namespace {

// A pixel of slack for rounding between a hint and the layout's integer geometry.
constexpr int slack = 1;

QString describe(const QWidget &widget, const QString &text)
{
    QString name = QString::fromLatin1(widget.metaObject()->className());
    if (!widget.objectName().isEmpty())
        name += QStringLiteral(" \"%1\"").arg(widget.objectName());
    return QStringLiteral("%1 with \"%2\"").arg(name, text.left(80));
}

QString plainText(const QLabel &label)
{
    if (label.textFormat() == Qt::PlainText
        || (label.textFormat() == Qt::AutoText && !Qt::mightBeRichText(label.text())))
        return label.text();
    QTextDocument document;
    document.setHtml(label.text());
    return document.toPlainText();
}

void checkLabel(const QLabel &label)
{
    const QString text = plainText(label);
    if (text.trimmed().isEmpty())
        return;
    const QRect room = label.contentsRect();
    if (label.wordWrap()) {
        const int need = label.heightForWidth(label.width());
        EXPECT_GE(label.height() + slack, need)
            << describe(label, text).toStdString() << " is " << label.height() << " px tall, its text needs " << need;
        // A word wider than the label runs past its edge: long names must be breakable anywhere.
        const QFontMetrics metrics(label.font());
        static const QRegularExpression breaks(QStringLiteral("[\\s\\x{200B}]+"));
        for (const QString &word : text.split(breaks, Qt::SkipEmptyParts)) {
            const int width = metrics.horizontalAdvance(word);
            EXPECT_LE(width, room.width() + slack)
                << describe(label, text).toStdString() << ": the word \"" << word.left(60).toStdString() << "\" needs "
                << width << " px of " << room.width();
        }
        return;
    }
    const QSize need = label.minimumSizeHint();
    EXPECT_GE(label.width() + slack, need.width()) << describe(label, text).toStdString() << " is " << label.width()
                                                   << " px wide, its text needs " << need.width();
    EXPECT_GE(label.height() + slack, need.height()) << describe(label, text).toStdString() << " is " << label.height()
                                                     << " px tall, its text needs " << need.height();
}

void checkButton(const QAbstractButton &button)
{
    if (button.text().isEmpty())
        return;
    const QSize need = button.sizeHint();
    EXPECT_GE(button.width() + slack, need.width()) << describe(button, button.text()).toStdString() << " is "
                                                    << button.width() << " px wide, it needs " << need.width();
    EXPECT_GE(button.height() + slack, button.minimumSizeHint().height())
        << describe(button, button.text()).toStdString() << " is " << button.height() << " px tall, it needs "
        << button.minimumSizeHint().height();
}

} // namespace

void expectTextsFit(QWidget &window)
{
    QApplication::processEvents();
    for (QWidget *widget : window.findChildren<QWidget *>()) {
        if (!widget->isVisibleTo(&window) || widget->window() != &window)
            continue;
        if (const auto *label = qobject_cast<QLabel *>(widget))
            checkLabel(*label);
        else if (const auto *button = qobject_cast<QAbstractButton *>(widget))
            checkButton(*button);
    }
}

void expectAccessibleNames(QWidget &window)
{
    QApplication::processEvents();
    for (QWidget *widget : window.findChildren<QWidget *>()) {
        if (!widget->isVisibleTo(&window) || widget->window() != &window || !(widget->focusPolicy() & Qt::TabFocus))
            continue;
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(widget);
        const QString name = face ? face->text(QAccessible::Name) : QString();
        const QString what = QString::fromLatin1(widget->metaObject()->className())
            + (widget->objectName().isEmpty() ? QString() : QStringLiteral(" \"%1\"").arg(widget->objectName()));
        EXPECT_FALSE(name.trimmed().isEmpty()) << what.toStdString() << " takes focus but has no accessible name";
        if (const auto *field = qobject_cast<QLineEdit *>(widget);
            field && widget->accessibleName().isEmpty() && !name.isEmpty() && name == field->placeholderText())
            ADD_FAILURE() << what.toStdString() << " is named only by its placeholder \"" << name.toStdString() << "\"";
    }
}

ScopedAppFont::ScopedAppFont(int points) : m_previous(QApplication::font())
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(points);
    QApplication::setFont(font);
}

ScopedAppFont::~ScopedAppFont()
{
    QApplication::setFont(m_previous);
}

} // namespace TestSupport
