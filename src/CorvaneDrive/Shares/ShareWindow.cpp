#include "CorvaneDrive/Shares/ShareWindow.h"

#include "CorvaneDrive/Shares/ShareDone.h"
#include "CorvaneDrive/Shares/ShareForm.h"
#include "CorvaneDrive/Shares/ShareLook.h"
#include "CorvaneDrive/Shares/ShareSetupView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

using DriveCore::SharesModel;
using Face = ShareWindowPresenter::Face;
using ShareLook::Font;
using ShareLook::Tone;

namespace {

// A column without margins whose parts take the window's spacing.
QVBoxLayout *faceColumn(QWidget *face, int spacing = ShareWindowPresenter::spacing)
{
    auto *column = new QVBoxLayout(face);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(spacing);
    return column;
}

// A row with space on the left and the button on the right.
QHBoxLayout *trailing(QPushButton *button)
{
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(button);
    return row;
}

// The progress bar's steps: fine enough for a smooth bar.
constexpr int barSteps = 10'000;

} // namespace

ShareErrorFace::ShareErrorFace(SharesModel &shares, QWidget *parent) : QWidget(parent), m_shares(&shares)
{
    QVBoxLayout *column = faceColumn(this);
    column->addWidget(ShareLook::label(ShareWindowPresenter::errorTitle, Font::title));
    m_text = ShareLook::label({}, Font::body, Tone::orange);
    column->addWidget(m_text);
    m_tryAgain = new QPushButton(ShareWindowPresenter::tryAgainTitle);
    setFocusProxy(m_tryAgain);
    connect(m_tryAgain, &QPushButton::clicked, this, [this] {
        if (m_shares)
            m_shares->loadWorker();
    });
    column->addLayout(trailing(m_tryAgain));
}

void ShareErrorFace::render(const ShareWindowPresenter::State &state)
{
    ShareLook::setBreakableText(m_text, state.workerLoadError.value_or(QString()));
}

SharePreparingFace::SharePreparingFace(SharesModel &shares, QWidget *parent) : QWidget(parent), m_shares(&shares)
{
    QVBoxLayout *column = faceColumn(this, ShareWindowPresenter::preparingSpacing);
    column->addWidget(ShareLook::label(ShareWindowPresenter::preparingTitle, Font::title));
    m_text = ShareLook::label({});
    column->addWidget(m_text);
    m_bar = new QProgressBar;
    m_bar->setRange(0, barSteps);
    m_bar->setTextVisible(false);
    column->addWidget(m_bar);
    m_line = ShareLook::label({}, Font::callout, Tone::secondary, false);
    column->addWidget(m_line);
    m_cancel = new QPushButton(ShareWindowPresenter::cancelTitle);
    setFocusProxy(m_cancel);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_shares)
            m_shares->cancelCreate();
    });
    column->addLayout(trailing(m_cancel));
}

void SharePreparingFace::render(const ShareWindowPresenter::State &state)
{
    const DriveCore::ShareProgress progress = state.createState.progress;
    ShareLook::setBreakableText(m_text, ShareWindowPresenter::preparingText(state.pickedTitle));
    m_bar->setValue(int(progress.fraction() * barSteps));
    const std::optional<QString> line = ShareWindowPresenter::progressLine(progress);
    m_line->setText(line.value_or(QString()));
    m_line->setVisible(line.has_value());
}

ShareWindow::ShareWindow(SharesModel &shares, Hooks hooks, QWidget *parent)
    : QWidget(parent), m_shares(&shares), m_hooks(std::move(hooks)),
      m_presence(m_hooks.windowOpened, m_hooks.windowClosed)
{
    // The model owns the link being made; a half-typed token or password goes with the window.
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(ShareWindowPresenter::windowTitle);
    ShareLook::closeWithKeyboard(this);
    m_column = new QVBoxLayout(this);
    const int padding = ShareWindowPresenter::padding;
    m_column->setContentsMargins(padding, padding, padding, padding);
    m_column->setSpacing(ShareWindowPresenter::spacing);
    connect(&shares, &SharesModel::changed, this, &ShareWindow::render);
    render();
    ShareLook::fixWidth(this, ShareWindowPresenter::width);
}

void ShareWindow::render()
{
    if (!m_shares)
        return;
    const ShareWindowPresenter::State state = ShareWindowPresenter::State::of(*m_shares);
    const ShareWindowPresenter::Key key = ShareWindowPresenter::key(state);
    if (!m_face || key != m_key) {
        if (m_face) {
            // Hidden at once, so its default button no longer answers Return.
            m_face->hide();
            m_face->deleteLater();
        }
        m_key = key;
        m_face = makeFace(state);
        m_column->addWidget(m_face);
        m_face->show();
        m_face->setFocus();
    }
    if (auto *error = qobject_cast<ShareErrorFace *>(m_face))
        error->render(state);
    else if (auto *preparing = qobject_cast<SharePreparingFace *>(m_face))
        preparing->render(state);
    else if (auto *form = qobject_cast<ShareForm *>(m_face))
        form->render();
}

QWidget *ShareWindow::makeFace(const ShareWindowPresenter::State &state)
{
    SharesModel &shares = *m_shares;
    switch (m_key.face) {
    case Face::error:
        return new ShareErrorFace(shares);
    case Face::opening: {
        auto *face = new QWidget;
        auto *row = new QHBoxLayout(face);
        row->setContentsMargins(0, 0, 0, 0);
        row->addWidget(ShareLook::spinner());
        row->addWidget(ShareLook::label(ShareWindowPresenter::openingText, Font::body, Tone::secondary, false));
        row->addStretch();
        return face;
    }
    case Face::setup:
        return new ShareSetupView(shares, false);
    case Face::form:
        return new ShareForm(shares);
    case Face::preparing:
        return new SharePreparingFace(shares);
    case Face::done:
        return new ShareDone(shares, *state.createState.record, m_hooks.openList);
    }
    return new QWidget;
}

void ShareWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_face && !focusWidget())
        m_face->setFocus();
    if (m_presence.shown() && m_shares)
        m_shares->loadWorker();
}

void ShareWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_presence.hidden(*event);
}
