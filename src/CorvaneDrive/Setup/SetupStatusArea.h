#pragma once

#include "CorvaneDrive/Setup/SetupFlowPresenter.h"

#include <QWidget>

class QLabel;
class QProgressBar;
class QToolButton;

namespace CorvaneDrive {

// Under every setup screen: the running step's progress text with a small busy indicator, or
// the last error in orange with its technical details in a "Details" group, closed at first.
class SetupStatusArea : public QWidget {
    Q_OBJECT
public:
    explicit SetupStatusArea(QWidget *parent = nullptr);

    void render(const SetupFlowPresenter::Status &status);
    bool detailsOpen() const;
    QToolButton *detailsButton() const { return m_detailsButton; }
    QLabel *busyLabel() const { return m_busyText; }
    QLabel *errorLabel() const { return m_errorText; }
    QLabel *detailsLabel() const { return m_detailsText; }

private:
    void setDetailsOpen(bool open);

    SetupFlowPresenter::Status m_shown;
    QWidget *m_busyRow;
    QProgressBar *m_indicator;
    QLabel *m_busyText;
    QWidget *m_errorColumn;
    QLabel *m_errorText;
    QToolButton *m_detailsButton;
    QLabel *m_detailsText;
};

} // namespace CorvaneDrive
