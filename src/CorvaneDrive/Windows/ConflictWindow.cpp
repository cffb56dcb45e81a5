#include "CorvaneDrive/Windows/ConflictWindow.h"

#include "CorvaneDrive/TopLevelWindow.h"
#include "CorvaneDrive/UiStyle.h"
#include "CorvaneDrive/Windows/WindowShortcuts.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace CorvaneDrive {

using DriveCore::ConflictChoice;
namespace ConflictText = DriveCore::ConflictText;

ConflictWindow::ConflictWindow(DriveCore::AppModel &model, QWidget *parent)
    : ConflictWindow(ConflictContext::live(model), parent)
{
}

ConflictWindow::ConflictWindow(ConflictContext context, QWidget *parent)
    : QWidget(parent), m_presenter(new ConflictPresenter(std::move(context), this)), m_content(new QWidget(this)),
      m_title(new QLabel(m_content)), m_counter(new QLabel(m_content)),
      m_body(UiStyle::wrappingLabel(QString::fromUtf8(ConflictText::body), m_content)),
      m_error(UiStyle::wrappingLabel(QString(), m_content)), m_buttons(new QWidget(m_content)),
      m_keepOther(new QPushButton(QString::fromUtf8(ConflictText::keepOther), m_buttons)),
      m_keepThisMac(new QPushButton(QString::fromUtf8(ConflictText::keepThisMac), m_buttons)),
      m_keepBoth(new QPushButton(QString::fromUtf8(ConflictText::keepBoth), m_buttons)),
      m_smallPrint(UiStyle::wrappingLabel(QString::fromUtf8(ConflictText::smallPrint), m_content))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(ConflictPresenter::windowTitle);
    auto *frame = new QVBoxLayout(this);
    frame->setContentsMargins(0, 0, 0, 0);
    frame->addWidget(m_content);

    auto *column = new QVBoxLayout(m_content);
    const int margin = ConflictPresenter::margin;
    column->setContentsMargins(margin, margin, margin, margin);
    column->setSpacing(ConflictPresenter::spacing);
    auto *heading = new QHBoxLayout;
    m_title->setTextFormat(Qt::PlainText);
    m_title->setWordWrap(true);
    UiStyle::headline(m_title);
    UiStyle::secondary(m_counter);
    heading->addWidget(m_title, 1, Qt::AlignTop);
    heading->addWidget(m_counter, 0, Qt::AlignTop);
    column->addLayout(heading);
    column->addWidget(m_body);
    UiStyle::failure(m_error);
    column->addWidget(m_error);
    auto *row = new QHBoxLayout(m_buttons);
    row->setContentsMargins(0, 0, 0, 0);
    row->addStretch(1);
    row->addWidget(m_keepOther);
    row->addWidget(m_keepThisMac);
    row->addWidget(m_keepBoth);
    column->addWidget(m_buttons);
    UiStyle::caption(m_smallPrint);
    UiStyle::secondary(m_smallPrint);
    column->addWidget(m_smallPrint);
    UiStyle::setDefaultButton(this, m_keepBoth);
    WindowShortcuts::closeWithKeyboard(this);

    connect(m_keepOther, &QPushButton::clicked, this, [this] { m_presenter->choose(ConflictChoice::keepOther); });
    connect(m_keepThisMac, &QPushButton::clicked, this, [this] { m_presenter->choose(ConflictChoice::keepThisMac); });
    connect(m_keepBoth, &QPushButton::clicked, this, [this] { m_presenter->choose(ConflictChoice::keepBoth); });
    connect(m_presenter, &ConflictPresenter::changed, this, &ConflictWindow::render);
    render();
}

ConflictWindow::~ConflictWindow() = default;

void ConflictWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_placed) {
        m_placed = true;
        TopLevelWindow::centre(this);
    }
    // Opened with nothing to decide: it goes at once.
    closeIfDone();
}

void ConflictWindow::render()
{
    const auto conflict = m_presenter->conflict();
    m_content->setVisible(conflict.has_value());
    if (conflict) {
        m_title->setText(m_presenter->title().value_or(QString()));
        const auto counter = m_presenter->counter();
        m_counter->setText(counter.value_or(QString()));
        m_counter->setVisible(counter.has_value());
        m_error->setText(m_presenter->error().value_or(QString()));
        m_error->setVisible(m_presenter->error().has_value());
        m_buttons->setEnabled(!m_presenter->working());
    }
    fitToContent();

    if (m_presenter->notice() && !m_noticeBox) {
        m_noticeBox = new QMessageBox(QMessageBox::Information, ConflictPresenter::windowTitle, *m_presenter->notice(),
                                      QMessageBox::NoButton, this);
        m_noticeBox->addButton(ConflictPresenter::okTitle, QMessageBox::AcceptRole);
        m_noticeBox->setAttribute(Qt::WA_DeleteOnClose);
        // OK, Escape or closing: the notice is gone either way.
        connect(m_noticeBox, &QMessageBox::finished, this, [this] {
            m_presenter->dismissNotice();
            closeIfDone();
        });
        m_noticeBox->open();
    }
    if (isVisible())
        closeIfDone();
}

bool ConflictWindow::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    // A line shown or hidden (the error) changes the height the content needs.
    if (event->type() == QEvent::LayoutRequest)
        fitToContent();
    return handled;
}

void ConflictWindow::fitToContent()
{
    // The placeholder is a point; the content sets the height at the fixed width, or at the
    // width its buttons need at a large desktop font.
    QSize size(1, 1);
    if (m_content->isVisibleTo(this)) {
        QLayout *frame = layout();
        frame->activate();
        const int width = std::max(ConflictPresenter::width, frame->totalMinimumSize().width());
        size = QSize(width,
                     frame->hasHeightForWidth() ? frame->totalHeightForWidth(width) : frame->totalSizeHint().height());
    }
    if (minimumSize() != size || maximumSize() != size)
        setFixedSize(size);
}

void ConflictWindow::closeIfDone()
{
    if (!m_presenter->shouldClose())
        return;
    // Queued: the window may be inside one of its own signals.
    QTimer::singleShot(0, this, [this] {
        if (m_presenter->shouldClose() && isVisible())
            close();
    });
}

} // namespace CorvaneDrive
