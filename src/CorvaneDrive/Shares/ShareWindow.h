#pragma once

#include "CorvaneDrive/Shares/ShareWindowPresenter.h"
#include "CorvaneDrive/WindowPresence.h"
#include "DriveCore/shares/SharesModel.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

// The window "Share": where one link is made from the files picked through "Share Files…". It
// shows the face the share model's state calls for (an error, "Opening…", the link-page set-up,
// the options, the progress or the finished link) and keeps nothing of its own, so a link being
// made goes on when it closes; it is deleted then, with whatever was typed. 500 wide, as high as
// its face, with its first control focused.
class ShareWindow : public QWidget {
    Q_OBJECT
public:
    // What the window needs of the application, each may be empty.
    struct Hooks {
        std::function<void()> windowOpened; // the app model's windowOpened()
        std::function<void()> windowClosed; // the app model's windowClosed()
        std::function<void()> openList; // brings the application forward with "Shared Links"
    };

    ShareWindow(DriveCore::SharesModel &shares, Hooks hooks, QWidget *parent = nullptr);

    ShareWindowPresenter::Face face() const { return m_key.face; }
    // The view of the current face: an ErrorFace, OpeningFace, ShareSetupView, ShareForm,
    // PreparingFace or ShareDone.
    QWidget *faceView() const { return m_face; }

public slots:
    // Shows the model's state again. The model's changes arrive by themselves; the lead's shell
    // calls this when the app model changes, since the form reads its blocked reason there.
    void render();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *makeFace(const ShareWindowPresenter::State &state);

    QPointer<DriveCore::SharesModel> m_shares;
    Hooks m_hooks;
    QVBoxLayout *m_column;
    QWidget *m_face = nullptr;
    ShareWindowPresenter::Key m_key;
    WindowPresence m_presence;
};

// "Couldn't open share links", the model's text and "Try Again".
class ShareErrorFace : public QWidget {
    Q_OBJECT
public:
    ShareErrorFace(DriveCore::SharesModel &shares, QWidget *parent = nullptr);
    void render(const ShareWindowPresenter::State &state);
    QPushButton *tryAgainButton() const { return m_tryAgain; }

private:
    QPointer<DriveCore::SharesModel> m_shares;
    QLabel *m_text;
    QPushButton *m_tryAgain;
};

// "Preparing link…" with the progress of the link being made and "Cancel".
class SharePreparingFace : public QWidget {
    Q_OBJECT
public:
    SharePreparingFace(DriveCore::SharesModel &shares, QWidget *parent = nullptr);
    void render(const ShareWindowPresenter::State &state);
    QProgressBar *bar() const { return m_bar; }
    QLabel *progressLine() const { return m_line; }
    QPushButton *cancelButton() const { return m_cancel; }

private:
    QPointer<DriveCore::SharesModel> m_shares;
    QLabel *m_text;
    QProgressBar *m_bar;
    QLabel *m_line;
    QPushButton *m_cancel;
};
