#include "CorvaneDrive/Windows/CopyAllWindow.h"

#include "CorvaneDrive/TopLevelWindow.h"
#include "CorvaneDrive/UiStyle.h"
#include "CorvaneDrive/Windows/ElidedLabel.h"
#include "CorvaneDrive/Windows/WindowShortcuts.h"

#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace CorvaneDrive {

CopyAllWindow::CopyAllWindow(DriveCore::AppModel &model, QWidget *parent)
    : CopyAllWindow(CopyAllContext::live(model), parent)
{
}

CopyAllWindow::CopyAllWindow(CopyAllContext context, QWidget *parent)
    : QWidget(parent), m_presenter(new CopyAllPresenter(std::move(context), this)),
      m_presence([this] { m_presenter->shown(); }, [this] { m_presenter->hidden(); }),
      m_choose(new QPushButton(CopyAllPresenter::chooseTitle, this)), m_path(new ElidedLabel(this)),
      m_warning(UiStyle::wrappingLabel(QString(), this)), m_bar(new QProgressBar(this)), m_progress(new QLabel(this)),
      m_done(UiStyle::wrappingLabel(CopyAllPresenter::doneText, this)),
      m_message(UiStyle::wrappingLabel(QString(), this)), m_start(new QPushButton(CopyAllPresenter::startTitle, this)),
      m_stop(new QPushButton(CopyAllPresenter::stopTitle, this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(CopyAllPresenter::windowTitle);
    auto *column = new QVBoxLayout(this);
    const int margin = CopyAllPresenter::margin;
    column->setContentsMargins(margin, margin, margin, margin);
    column->setSpacing(CopyAllPresenter::spacing);

    auto *heading = new QLabel(CopyAllPresenter::heading, this);
    UiStyle::title2(heading);
    column->addWidget(heading);
    auto *explanation = UiStyle::wrappingLabel(CopyAllPresenter::explanation, this);
    UiStyle::secondary(explanation);
    column->addWidget(explanation);

    auto *folderRow = new QHBoxLayout;
    // As wide as its title, also while no folder takes the rest of the row.
    folderRow->addWidget(m_choose, 0, Qt::AlignLeft);
    UiStyle::secondary(m_path);
    folderRow->addWidget(m_path, 1);
    column->addLayout(folderRow);

    UiStyle::failure(m_warning);
    column->addWidget(m_warning);
    m_bar->setTextVisible(false);
    column->addWidget(m_bar);
    UiStyle::callout(m_progress);
    UiStyle::secondary(m_progress);
    column->addWidget(m_progress);
    UiStyle::headline(m_done);
    column->addWidget(m_done);
    UiStyle::failure(m_message);
    column->addWidget(m_message);

    auto *actions = new QHBoxLayout;
    actions->addStretch(1);
    actions->addWidget(m_stop);
    actions->addWidget(m_start);
    column->addLayout(actions);
    UiStyle::setDefaultButton(this, m_start);
    WindowShortcuts::closeWithKeyboard(this);

    connect(m_choose, &QPushButton::clicked, this, &CopyAllWindow::chooseFolder);
    connect(m_start, &QPushButton::clicked, m_presenter, &CopyAllPresenter::start);
    connect(m_stop, &QPushButton::clicked, m_presenter, &CopyAllPresenter::stop);
    connect(m_presenter, &CopyAllPresenter::changed, this, &CopyAllWindow::render);
    render();
}

CopyAllWindow::~CopyAllWindow() = default;

void CopyAllWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_presence.shown())
        TopLevelWindow::centre(this);
}

void CopyAllWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_presence.hidden(*event);
}

QLabel *CopyAllWindow::pathLabel() const
{
    return m_path;
}

bool CopyAllWindow::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::LayoutRequest)
        fitToContent();
    return handled;
}

void CopyAllWindow::chooseFolder()
{
    QFileDialog panel(this);
    panel.setFileMode(QFileDialog::Directory);
    panel.setOption(QFileDialog::ShowDirsOnly);
    panel.setLabelText(QFileDialog::Accept, CopyAllPresenter::choosePrompt);
    panel.setDirectory(m_presenter->destination().value_or(QDir::homePath()));
    raise();
    activateWindow();
    if (panel.exec() != QDialog::Accepted || panel.selectedFiles().isEmpty())
        return;
    m_presenter->choose(panel.selectedFiles().constFirst());
}

void CopyAllWindow::render()
{
    const bool running = m_presenter->running();
    m_choose->setEnabled(m_presenter->canChoose());
    const std::optional<QString> destination = m_presenter->destination();
    m_path->setVisible(destination.has_value());
    m_path->setFullText(QDir::toNativeSeparators(destination.value_or(QString())));

    const std::optional<QString> warning = m_presenter->spaceWarning();
    m_warning->setText(warning.value_or(QString()));
    m_warning->setVisible(warning.has_value());

    const auto progress = m_presenter->progress();
    m_bar->setVisible(progress.has_value());
    m_progress->setVisible(progress.has_value());
    if (progress) {
        const auto [value, maximum] = CopyAllPresenter::bar(*progress);
        // The bar takes ints: both are scaled alike to stay within them.
        const double scale = maximum > 1'000'000'000 ? double(maximum) / 1'000'000'000 : 1.0;
        m_bar->setRange(0, int(double(maximum) / scale));
        m_bar->setValue(int(double(std::min(value, maximum)) / scale));
        m_progress->setText(CopyAllPresenter::progressText(*progress));
    }
    m_done->setVisible(m_presenter->finished());
    const std::optional<QString> message = m_presenter->message();
    m_message->setText(message.value_or(QString()));
    m_message->setVisible(message.has_value());

    m_stop->setVisible(running);
    m_start->setVisible(!running);
    m_start->setEnabled(m_presenter->canStart());
    fitToContent();
}

void CopyAllWindow::fitToContent()
{
    QLayout *column = layout();
    column->activate();
    const int width = CopyAllPresenter::width;
    const int height =
        column->hasHeightForWidth() ? column->totalHeightForWidth(width) : column->totalSizeHint().height();
    if (minimumSize() != QSize(width, height) || maximumSize() != QSize(width, height))
        setFixedSize(width, height);
}

} // namespace CorvaneDrive
