#pragma once

#include "CorvaneDrive/WindowPresence.h"
#include "CorvaneDrive/Windows/CopyAllPresenter.h"

#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace CorvaneDrive {

// The copy-all window ("Copy All My Files"): a folder chosen in the folder panel, the space
// warning, the progress of the model's copy and Start or Stop. 520 wide, as tall as its
// content; deletes itself on close, leaving the copy running.
class CopyAllWindow : public QWidget {
    Q_OBJECT
public:
    explicit CopyAllWindow(DriveCore::AppModel &model, QWidget *parent = nullptr);
    explicit CopyAllWindow(CopyAllContext context, QWidget *parent = nullptr);
    ~CopyAllWindow() override;

    CopyAllPresenter &presenter() const { return *m_presenter; }
    QPushButton *chooseButton() const { return m_choose; }
    QPushButton *startButton() const { return m_start; }
    QPushButton *stopButton() const { return m_stop; }
    QLabel *pathLabel() const;
    QLabel *warningLabel() const { return m_warning; }
    QProgressBar *progressBar() const { return m_bar; }
    QLabel *progressLabel() const { return m_progress; }
    QLabel *doneLabel() const { return m_done; }
    QLabel *messageLabel() const { return m_message; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool event(QEvent *event) override;

private:
    void chooseFolder();
    void render();
    void fitToContent();

    CopyAllPresenter *m_presenter;
    WindowPresence m_presence;
    QPushButton *m_choose;
    class ElidedLabel *m_path;
    QLabel *m_warning;
    QProgressBar *m_bar;
    QLabel *m_progress;
    QLabel *m_done;
    QLabel *m_message;
    QPushButton *m_start;
    QPushButton *m_stop;
};

} // namespace CorvaneDrive
