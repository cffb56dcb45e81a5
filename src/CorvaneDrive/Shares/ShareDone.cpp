#include "CorvaneDrive/Shares/ShareDone.h"

#include "CorvaneDrive/Shares/ShareLook.h"
#include "CorvaneDrive/Shares/ShareWindowPresenter.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using DriveCore::SharesModel;
using ShareLook::Font;
using ShareLook::Tone;

LinkField::LinkField(const QString &link, QWidget *parent) : QLineEdit(parent), m_link(link)
{
    setReadOnly(true);
    setFrame(false);
    setAccessibleName(link);
    const int padding = ShareDonePresenter::linkPadding;
    setTextMargins(padding, padding, padding, padding);
    // A faint fill of the text colour, with rounded corners.
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(0.08);
    setStyleSheet(QStringLiteral("QLineEdit { background: %1; border: none; border-radius: %2px; }")
                      .arg(fill.name(QColor::HexArgb))
                      .arg(ShareDonePresenter::linkCornerRadius));
    showShortened();
}

void LinkField::focusInEvent(QFocusEvent *event)
{
    setText(m_link);
    QLineEdit::focusInEvent(event);
}

void LinkField::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    showShortened();
}

void LinkField::resizeEvent(QResizeEvent *event)
{
    QLineEdit::resizeEvent(event);
    if (!hasFocus())
        showShortened();
}

void LinkField::showShortened()
{
    const int room = contentsRect().width() - 2 * ShareDonePresenter::linkPadding - 4;
    setText(room > 0 ? fontMetrics().elidedText(m_link, Qt::ElideMiddle, room) : m_link);
    setCursorPosition(0);
}

ShareDone::ShareDone(SharesModel &shares, DriveCore::ShareRecord record, std::function<void()> openList,
                     QWidget *parent)
    : QWidget(parent), m_shares(&shares), m_presenter(std::move(record))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(ShareWindowPresenter::spacing);

    column->addWidget(ShareLook::label(ShareDonePresenter::title, Font::title));
    QLabel *summary = ShareLook::label({}, Font::body, Tone::secondary);
    ShareLook::setBreakableText(summary, m_presenter.summary());
    column->addWidget(summary);

    auto *linkRow = new QHBoxLayout;
    m_link = new LinkField(m_presenter.link());
    linkRow->addWidget(m_link, 1);
    m_copy = new QPushButton(QIcon::fromTheme(QStringLiteral("edit-copy-symbolic")), m_presenter.copyTitle());
    ShareLook::makeDefault(m_copy);
    setFocusProxy(m_copy);
    connect(m_copy, &QPushButton::clicked, this, [this] {
        ShareLook::copy(m_presenter.copy());
        m_copy->setText(m_presenter.copyTitle());
    });
    linkRow->addWidget(m_copy);
    column->addLayout(linkRow);

    if (const std::optional<QString> password = m_presenter.passwordLine()) {
        QLabel *line = ShareLook::label(*password, Font::callout);
        line->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        column->addWidget(line);
    }

    auto *row = new QHBoxLayout;
    m_sharedLinks = new QPushButton(ShareDonePresenter::sharedLinksTitle);
    connect(m_sharedLinks, &QPushButton::clicked, this, [openList = std::move(openList)] {
        if (openList)
            openList();
    });
    row->addWidget(m_sharedLinks);
    row->addStretch();
    m_done = new QPushButton(ShareDonePresenter::doneTitle);
    connect(m_done, &QPushButton::clicked, this, [this] {
        if (m_shares)
            m_shares->reset();
    });
    row->addWidget(m_done);
    column->addLayout(row);
}
