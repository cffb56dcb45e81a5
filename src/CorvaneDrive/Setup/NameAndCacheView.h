#pragma once

#include "CorvaneDrive/Setup/SetupScreenView.h"
#include "DriveCore/keys/SetupState.h"

#include <QPointer>

class QLabel;
class QSlider;

namespace CorvaneDrive {

class SetupFooter;

// The drive's name as the file manager will show it, and the cache size on a slider.
class NameAndCacheView : public SetupScreenView {
    Q_OBJECT
public:
    explicit NameAndCacheView(DriveCore::SetupState &state, QWidget *parent = nullptr);

    void render() override;
    QPushButton *defaultButton() const override;
    QWidget *firstField() const override;

    QSlider *slider() const { return m_slider; } // none without room to choose
    QLabel *cacheLabel() const { return m_cache; }

private:
    QPointer<DriveCore::SetupState> m_state;
    QLabel *m_appears;
    QLabel *m_cache;
    QSlider *m_slider = nullptr;
    SetupFooter *m_footer;
};

} // namespace CorvaneDrive
