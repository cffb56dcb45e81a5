#include "CorvaneDrive/Setup/NameAndCacheView.h"

#include "CorvaneDrive/Setup/NameAndCachePresenter.h"
#include "CorvaneDrive/Setup/SetupFlowPresenter.h"
#include "CorvaneDrive/Setup/SetupFooter.h"
#include "CorvaneDrive/UiStyle.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

namespace CorvaneDrive {

NameAndCacheView::NameAndCacheView(DriveCore::SetupState &state, QWidget *parent)
    : SetupScreenView(parent), m_state(&state)
{
    QVBoxLayout *column = startColumn(SetupFlowPresenter::screenSpacing, NameAndCachePresenter::title);
    m_appears = UiStyle::wrappingLabel(QString(), this);
    UiStyle::secondary(m_appears);
    column->addWidget(m_appears);
    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    column->addWidget(divider);
    m_cache = UiStyle::wrappingLabel(QString(), this);
    column->addWidget(m_cache);

    // The largest size is fixed for the assistant's life, so the slider is there or not for good.
    const qint64 maxCacheGB = state.maxCacheGB();
    if (NameAndCachePresenter::showsSlider(maxCacheGB)) {
        auto *row = new QHBoxLayout;
        m_slider = new QSlider(Qt::Horizontal, this);
        m_slider->setRange(int(NameAndCachePresenter::minCacheGB), int(maxCacheGB));
        m_slider->setSingleStep(1);
        m_slider->setPageStep(5);
        m_slider->setAccessibleName(NameAndCachePresenter::sliderName);
        row->addWidget(new QLabel(NameAndCachePresenter::sliderLabel(NameAndCachePresenter::minCacheGB), this));
        row->addWidget(m_slider, 1);
        row->addWidget(new QLabel(NameAndCachePresenter::sliderLabel(maxCacheGB), this));
        column->addLayout(row);
        connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
            if (m_state)
                m_state->setCacheGB(value);
        });
    }

    QLabel *note = UiStyle::wrappingLabel(NameAndCachePresenter::note, this);
    UiStyle::callout(note);
    UiStyle::secondary(note);
    column->addWidget(note);

    m_footer = new SetupFooter(state, this);
    column->addWidget(m_footer);
    render();
}

void NameAndCacheView::render()
{
    if (!m_state)
        return;
    m_appears->setText(NameAndCachePresenter::appearsText(m_state->driveName()));
    m_cache->setText(NameAndCachePresenter::cacheText(m_state->cacheGB()));
    if (m_slider && m_slider->value() != m_state->cacheGB())
        m_slider->setValue(int(m_state->cacheGB()));
    m_footer->render();
}

QPushButton *NameAndCacheView::defaultButton() const
{
    return m_footer->primaryButton();
}

QWidget *NameAndCacheView::firstField() const
{
    return m_slider;
}

} // namespace CorvaneDrive
