#include "CorvaneDrive/Shares/ShareSetupView.h"

#include "CorvaneDrive/Shares/ShareLook.h"
#include "CorvaneDrive/Shares/ShareWindowPresenter.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using DriveCore::SharesModel;
using ShareLook::Font;
using ShareLook::Tone;

ShareSetupView::ShareSetupView(SharesModel &shares, bool updating, QWidget *parent)
    : QWidget(parent), m_shares(&shares), m_presenter(updating)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(ShareWindowPresenter::spacing);

    column->addWidget(ShareLook::label(m_presenter.title(), Font::title));
    column->addWidget(ShareLook::label(ShareSetupPresenter::introText));

    auto *steps = new QVBoxLayout;
    steps->setSpacing(ShareSetupPresenter::stepSpacing);
    for (const QString &step : ShareSetupPresenter::steps) {
        QLabel *line = ShareLook::label({});
        line->setTextFormat(Qt::RichText);
        line->setText(ShareSetupPresenter::emphasised(step));
        steps->addWidget(line);
    }
    column->addLayout(steps);

    m_openTokens =
        new QPushButton(QIcon::fromTheme(QStringLiteral("web-browser-symbolic")), ShareSetupPresenter::openTokensTitle);
    // Only "Set Up" answers Return, also in a dialog, where buttons take Return when focused.
    m_openTokens->setAutoDefault(false);
    connect(m_openTokens, &QPushButton::clicked, this,
            [] { QDesktopServices::openUrl(ShareSetupPresenter::tokensPage); });
    column->addWidget(m_openTokens, 0, Qt::AlignLeft);

    m_token = new QLineEdit;
    m_token->setEchoMode(QLineEdit::Password);
    m_token->setPlaceholderText(ShareSetupPresenter::tokenPlaceholder);
    m_token->setAccessibleName(ShareSetupPresenter::tokenName);
    setFocusProxy(m_token);
    connect(m_token, &QLineEdit::textEdited, this, [this](const QString &text) {
        m_presenter.token = text;
        render();
    });
    column->addWidget(m_token);

    column->addWidget(ShareLook::label(ShareSetupPresenter::keychainText, Font::callout, Tone::secondary));

    m_message = ShareLook::label({}, Font::body, Tone::orange);
    column->addWidget(m_message);

    auto *row = new QHBoxLayout;
    m_progress = new QWidget;
    auto *progress = new QHBoxLayout(m_progress);
    progress->setContentsMargins(0, 0, 0, 0);
    progress->addWidget(ShareLook::spinner());
    progress->addWidget(ShareLook::label(ShareSetupPresenter::settingUpText, Font::body, Tone::secondary, false));
    row->addWidget(m_progress);
    row->addStretch();
    m_setUp = new QPushButton(ShareSetupPresenter::setUpTitle);
    ShareLook::makeDefault(m_setUp);
    connect(m_setUp, &QPushButton::clicked, this, [this] { setUp(); });
    row->addWidget(m_setUp);
    column->addLayout(row);

    connect(&shares, &SharesModel::changed, this, &ShareSetupView::render);
    render();
}

void ShareSetupView::render()
{
    if (!m_shares)
        return;
    const bool settingUp = m_shares->settingUp();
    ShareLook::setBreakableText(m_message, m_shares->setupMessage().value_or(QString()));
    m_message->setVisible(m_shares->setupMessage().has_value());
    m_progress->setVisible(settingUp);
    m_setUp->setEnabled(m_presenter.canSetUp(settingUp));
    if (m_token->text() != m_presenter.token)
        m_token->setText(m_presenter.token);
}

QCoro::Task<> ShareSetupView::setUp()
{
    if (!m_shares || !m_presenter.canSetUp(m_shares->settingUp()))
        co_return;
    const QPointer<ShareSetupView> self(this);
    const QPointer<SharesModel> shares = m_shares;
    co_await shares->setUpWorker(m_presenter.token);
    if (!self || !shares)
        co_return;
    m_presenter.setUpEnded(shares->setupMessage());
    render();
}
