#pragma once

#include "CorvaneDrive/Windows/ConflictPresenter.h"

#include <QPointer>
#include <QWidget>

class QLabel;
#include <QMessageBox>
class QPushButton;

namespace CorvaneDrive {

// The conflict window ("Ovra"): the current conflict with its three choices, one at a time,
// 520 wide and as tall as its content. It closes itself once no conflict waits and no notice
// shows, and deletes itself on close.
class ConflictWindow : public QWidget {
    Q_OBJECT
public:
    explicit ConflictWindow(DriveCore::AppModel &model, QWidget *parent = nullptr);
    explicit ConflictWindow(ConflictContext context, QWidget *parent = nullptr);
    ~ConflictWindow() override;

    ConflictPresenter &presenter() const { return *m_presenter; }
    QLabel *titleLabel() const { return m_title; }
    QLabel *counterLabel() const { return m_counter; }
    QLabel *errorLabel() const { return m_error; }
    QPushButton *keepOtherButton() const { return m_keepOther; }
    QPushButton *keepThisMacButton() const { return m_keepThisMac; }
    QPushButton *keepBothButton() const { return m_keepBoth; }
    // The notice alert while it shows.
    QMessageBox *noticeBox() const { return m_noticeBox; }

protected:
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;

private:
    void render();
    void fitToContent();
    void closeIfDone();

    ConflictPresenter *m_presenter;
    QWidget *m_content;
    QLabel *m_title;
    QLabel *m_counter;
    QLabel *m_body;
    QLabel *m_error;
    QWidget *m_buttons;
    QPushButton *m_keepOther;
    QPushButton *m_keepThisMac;
    QPushButton *m_keepBoth;
    QLabel *m_smallPrint;
    QPointer<QMessageBox> m_noticeBox;
    bool m_placed = false;
};

} // namespace CorvaneDrive
