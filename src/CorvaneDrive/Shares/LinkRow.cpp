#include "CorvaneDrive/Shares/LinkRow.h"

#include "CorvaneDrive/Shares/ShareLook.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QVBoxLayout>

using ShareLook::Font;
using ShareLook::Tone;

LinkRow::LinkRow(DriveCore::SharesModel::Row row, std::function<void()> stop, QWidget *parent)
    : QWidget(parent), m_presenter(std::move(row))
{
    auto *line = new QHBoxLayout(this);
    line->setContentsMargins(0, LinkRowPresenter::margin, 0, LinkRowPresenter::margin);
    line->setSpacing(LinkRowPresenter::spacing);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(LinkRowPresenter::lineSpacing);
    m_title = ShareLook::label({}, Font::headline, Tone::primary, false);
    m_title->setMinimumWidth(1);
    m_title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    texts->addWidget(m_title);
    m_info = ShareLook::label({}, Font::callout, Tone::secondary);
    texts->addWidget(m_info);
    m_made = ShareLook::label({}, Font::caption, Tone::secondary);
    texts->addWidget(m_made);
    m_status = ShareLook::label({}, Font::callout, Tone::secondary);
    texts->addWidget(m_status);
    texts->addStretch();
    line->addLayout(texts, 1);

    auto *buttons = new QVBoxLayout;
    buttons->setSpacing(LinkRowPresenter::buttonSpacing);
    m_copyLink = new QPushButton(QIcon::fromTheme(QStringLiteral("edit-copy-symbolic")), {});
    connect(m_copyLink, &QPushButton::clicked, this, [this] {
        ShareLook::copy(m_presenter.copyLink());
        render();
    });
    buttons->addWidget(m_copyLink, 0, Qt::AlignRight);
    m_copyPassword = new QPushButton(LinkRowPresenter::copyPasswordTitle);
    connect(m_copyPassword, &QPushButton::clicked, this, [this] { ShareLook::copy(m_presenter.password()); });
    buttons->addWidget(m_copyPassword, 0, Qt::AlignRight);
    m_stop = new QPushButton;
    ShareLook::makeDestructive(m_stop);
    connect(m_stop, &QPushButton::clicked, this, [stop = std::move(stop)] {
        if (stop)
            stop();
    });
    buttons->addWidget(m_stop, 0, Qt::AlignRight);
    buttons->addStretch();
    line->addLayout(buttons);

    render();
}

void LinkRow::setRow(DriveCore::SharesModel::Row row)
{
    m_presenter.setRow(std::move(row));
    render();
}

void LinkRow::render()
{
    const DriveCore::ShareRecord &record = m_presenter.row().record;
    m_title->setToolTip(record.title);
    elideTitle();
    m_info->setText(m_presenter.infoLine());
    m_made->setText(m_presenter.madeLine());
    const LinkRowPresenter::StatusLine status = m_presenter.statusLine();
    m_status->setText(status.text);
    ShareLook::setTone(m_status, status.style == LinkRowPresenter::StatusLine::green ? Tone::green : Tone::secondary);
    m_copyLink->setText(m_presenter.copyTitle());
    m_copyLink->setVisible(m_presenter.showsCopyLink());
    m_copyPassword->setVisible(m_presenter.showsCopyPassword());
    m_stop->setText(m_presenter.stopButtonTitle());
}

void LinkRow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    elideTitle();
}

void LinkRow::elideTitle()
{
    const QString &title = m_presenter.row().record.title;
    m_title->setText(m_title->fontMetrics().elidedText(title, Qt::ElideRight, m_title->width()));
}
