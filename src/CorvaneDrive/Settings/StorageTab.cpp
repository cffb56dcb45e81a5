#include "CorvaneDrive/Settings/StorageTab.h"

#include "CorvaneDrive/Settings/SettingsWindow.h"
#include "CorvaneDrive/UiStyle.h"
#include "DriveCore/model/AppModel.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

namespace CorvaneDrive {

using P = SettingsPresenter;

namespace {

// A row of widgets laid out left to right, the flexible space at `stretchAt`.
QWidget *row(QWidget *parent, std::initializer_list<QWidget *> widgets, int stretchAt)
{
    auto *line = new QWidget(parent);
    auto *layout = new QHBoxLayout(line);
    layout->setContentsMargins(0, 0, 0, 0);
    int index = 0;
    for (QWidget *widget : widgets) {
        if (index++ == stretchAt)
            layout->addStretch(1);
        layout->addWidget(widget);
    }
    if (index == stretchAt)
        layout->addStretch(1);
    return line;
}

enum class Tone { normal, secondary, failure };

void paint(QLabel *label, Tone tone)
{
    label->setPalette(QPalette());
    label->setForegroundRole(QPalette::WindowText);
    if (tone == Tone::failure)
        UiStyle::failure(label);
    else if (tone == Tone::secondary)
        UiStyle::secondary(label);
}

} // namespace

StorageTab::StorageTab(SettingsWindow &window, QWidget *parent)
    : SettingsForm(parent), m_window(window), m_used(new QLabel), m_cost(new QLabel),
      m_changeKeys(new QPushButton(P::changeKeysButton)), m_usageIndicator(UiStyle::busyIndicator(nullptr)),
      m_refresh(new QPushButton(P::refreshButton)), m_soFarLabel(new QLabel), m_soFar(new QLabel),
      m_wholeLabel(new QLabel), m_whole(new QLabel), m_cloudflareText(UiStyle::wrappingLabel(QString())),
      m_slider(new QSlider(Qt::Horizontal)), m_lower(new QLabel), m_upper(new QLabel), m_cacheValue(new QLabel),
      m_cacheIndicator(UiStyle::busyIndicator(nullptr)), m_apply(new QPushButton(P::applyButton)),
      m_lowDisk(UiStyle::wrappingLabel(DriveCore::AppModel::lowDiskText)),
      m_recoveryKit(new QPushButton(P::recoveryKitButton))
{
    QFormLayout *storage = addSection(P::storageHeader, QString::fromUtf8(DriveCore::StorageUsage::estimateNote));
    m_used->setWordWrap(true);
    storage->addRow(m_used);
    storage->addRow(m_cost);
    storage->addRow(row(this, {m_changeKeys, m_usageIndicator, m_refresh}, 1));

    m_cloudflareRows = addSection(P::cloudflareHeader, DriveCore::CloudflareBill::note);
    m_cloudflareRows->addRow(m_soFarLabel, m_soFar);
    m_cloudflareRows->addRow(m_wholeLabel, m_whole);
    m_cloudflareRows->addRow(m_cloudflareText);

    QFormLayout *cache = addSection(P::cacheHeader, P::cacheFooter);
    m_slider->setSingleStep(1);
    m_slider->setPageStep(5);
    m_slider->setAccessibleName(P::cacheSliderLabel);
    cache->addRow(P::cacheSliderLabel, row(this, {m_lower, m_slider, m_upper}, -1));
    cache->addRow(row(this, {m_cacheValue, m_cacheIndicator, m_apply}, 1));
    UiStyle::failure(m_lowDisk);
    cache->addRow(m_lowDisk);

    m_recoveryKit->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    addSection(P::recoveryHeader)->addRow(m_recoveryKit);

    connect(m_changeKeys, &QPushButton::clicked, this, [this] { m_window.setSheet(P::SheetKind::keys); });
    connect(m_recoveryKit, &QPushButton::clicked, this, [this] { m_window.setSheet(P::SheetKind::recoveryKit); });
    connect(m_refresh, &QPushButton::clicked, this, [this] { m_window.loadUsage(); });
    connect(m_apply, &QPushButton::clicked, this, [this] { m_window.applyCache(); });
    connect(m_slider, &QSlider::valueChanged, this, [this](int value) { m_window.setCacheGB(value); });
    render();
}

void StorageTab::render()
{
    const DriveCore::AppModel &model = m_window.model();

    const P::UsageLines usage = P::usageLines(m_window.usage(), m_window.usageError());
    m_used->setText(usage.lines.value(0));
    m_cost->setText(usage.lines.value(1));
    m_cost->setVisible(usage.kind == P::UsageLines::figures);
    paint(m_used,
          usage.kind == P::UsageLines::figures       ? Tone::normal
              : usage.kind == P::UsageLines::failure ? Tone::failure
                                                     : Tone::secondary);
    m_usageIndicator->setVisible(m_window.measuringUsage());
    m_refresh->setEnabled(!m_window.measuringUsage());

    const P::CloudflareLines cloudflare = P::cloudflareLines(m_window.cloudflare(), m_window.cloudflareError(),
                                                             m_window.cloudflareAsked(), m_window.context().now());
    const bool figures = cloudflare.kind == P::CloudflareLines::figures;
    m_soFarLabel->setText(cloudflare.soFarLabel);
    m_soFar->setText(cloudflare.soFar);
    m_wholeLabel->setText(cloudflare.wholeLabel);
    m_whole->setText(cloudflare.whole);
    m_cloudflareRows->setRowVisible(0, figures);
    m_cloudflareRows->setRowVisible(1, figures);
    m_cloudflareText->setText(cloudflare.text);
    paint(m_cloudflareText, cloudflare.kind == P::CloudflareLines::failure ? Tone::failure : Tone::secondary);

    const P::CacheRange range = P::cacheRange(model.maxCacheGB());
    const bool canChange = model.canChangeCache();
    const qint64 settingsGB = model.settings() ? model.settings()->cacheGB : 0;
    {
        const QSignalBlocker quiet(m_slider);
        m_slider->setRange(int(range.lower), int(range.top));
        m_slider->setValue(int(m_window.cacheGB()));
    }
    // Its top end past a single size is only there to draw it: nothing to offer, no input.
    m_slider->setEnabled(range.choosable());
    m_lower->setText(P::gigabytes(range.lower));
    m_upper->setText(P::gigabytes(range.upper));
    m_cacheValue->setText(P::gigabytes(m_window.cacheGB()));
    m_cacheIndicator->setVisible(m_window.applyingCache());
    m_apply->setEnabled(P::canApply(m_window.cacheGB(), settingsGB, canChange, m_window.applyingCache(), range));
    m_lowDisk->setVisible(!canChange);

    showError(m_window.error());
}

} // namespace CorvaneDrive
