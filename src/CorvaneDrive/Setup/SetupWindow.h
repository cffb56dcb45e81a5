#pragma once

#include "CorvaneDrive/Setup/SetupContext.h"
#include "CorvaneDrive/Setup/SetupFlowPresenter.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

class QProgressBar;
class QVBoxLayout;

namespace CorvaneDrive {

class SetupScreenView;
class SetupStatusArea;

// The first-run setup window ("Set up Ovra"): the screen of the assistant's current step with
// the status area under it, 540 wide and as tall as they need. It holds one assistant from the
// context; showing the window makes a new one when it has none or the last one finished, and
// keeps one part-way through. While a step runs, the screen takes no input.
class SetupWindow : public QWidget {
    Q_OBJECT
public:
    explicit SetupWindow(SetupContext context, QWidget *parent = nullptr);
    ~SetupWindow() override;

    DriveCore::SetupState *setup() const { return m_setup.get(); }
    // The screen shown, or none before the window was first shown.
    SetupScreenView *screen() const { return m_screen; }
    std::optional<SetupFlowPresenter::Screen> shownScreen() const;
    SetupStatusArea *statusArea() const { return m_status; }

protected:
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void startFresh();
    void render();
    void showScreen();
    void dropScreen();
    void fitToContent();

    SetupContext m_context;
    std::unique_ptr<DriveCore::SetupState> m_setup;
    bool m_showPassphrase = false;
    QProgressBar *m_waiting;
    QWidget *m_content;
    QVBoxLayout *m_contentColumn;
    SetupScreenView *m_screen = nullptr;
    std::optional<DriveCore::SetupStep> m_shownStep;
    SetupStatusArea *m_status;
    bool m_busy = false;
    QPointer<QWidget> m_focusBeforeBusy;
    QPointer<QWidget> m_describedField;
};

} // namespace CorvaneDrive
