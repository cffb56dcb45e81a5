#pragma once

#include "CorvaneDrive/Settings/SettingsForm.h"

class QProgressBar;
class QPushButton;
class QSlider;

namespace CorvaneDrive {

class SettingsWindow;

// The Storage & Cache tab: what the drive stores and its monthly estimate, Cloudflare's own
// figures of the month, the cache size with its Apply button, and the ways into the storage
// keys and the Recovery Kit. Holds no state: it shows the window's fields and the model's.
class StorageTab : public SettingsForm {
    Q_OBJECT
public:
    explicit StorageTab(SettingsWindow &window, QWidget *parent = nullptr);

    void render();

    QLabel *usedLine() const { return m_used; }
    QLabel *costLine() const { return m_cost; }
    QPushButton *changeKeysButton() const { return m_changeKeys; }
    QProgressBar *usageIndicator() const { return m_usageIndicator; }
    QPushButton *refreshButton() const { return m_refresh; }
    QLabel *soFarLabel() const { return m_soFarLabel; }
    QLabel *soFarValue() const { return m_soFar; }
    QLabel *wholeLabel() const { return m_wholeLabel; }
    QLabel *wholeValue() const { return m_whole; }
    QLabel *cloudflareLine() const { return m_cloudflareText; }
    QSlider *cacheSlider() const { return m_slider; }
    QLabel *sliderLower() const { return m_lower; }
    QLabel *sliderUpper() const { return m_upper; }
    QLabel *cacheValue() const { return m_cacheValue; }
    QProgressBar *cacheIndicator() const { return m_cacheIndicator; }
    QPushButton *applyButton() const { return m_apply; }
    QLabel *lowDiskLine() const { return m_lowDisk; }
    QPushButton *recoveryKitButton() const { return m_recoveryKit; }

private:
    SettingsWindow &m_window;
    QLabel *m_used;
    QLabel *m_cost;
    QPushButton *m_changeKeys;
    QProgressBar *m_usageIndicator;
    QPushButton *m_refresh;
    QFormLayout *m_cloudflareRows;
    QLabel *m_soFarLabel;
    QLabel *m_soFar;
    QLabel *m_wholeLabel;
    QLabel *m_whole;
    QLabel *m_cloudflareText;
    QSlider *m_slider;
    QLabel *m_lower;
    QLabel *m_upper;
    QLabel *m_cacheValue;
    QProgressBar *m_cacheIndicator;
    QPushButton *m_apply;
    QLabel *m_lowDisk;
    QPushButton *m_recoveryKit;
};

} // namespace CorvaneDrive
