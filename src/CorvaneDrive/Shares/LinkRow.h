#pragma once

#include "CorvaneDrive/Shares/LinkRowPresenter.h"

#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

// One link of the Shared Links list, with its own "copied" state; the stop request goes back to
// the window, which asks first.
class LinkRow : public QWidget {
    Q_OBJECT
public:
    LinkRow(DriveCore::SharesModel::Row row, std::function<void()> stop, QWidget *parent = nullptr);

    // The same link with a new status.
    void setRow(DriveCore::SharesModel::Row row);
    const LinkRowPresenter &presenter() const { return m_presenter; }

    QLabel *statusLabel() const { return m_status; }
    QPushButton *copyLinkButton() const { return m_copyLink; }
    QPushButton *copyPasswordButton() const { return m_copyPassword; }
    QPushButton *stopButton() const { return m_stop; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void render();
    // The title on one line, cut with "…" to the room it has.
    void elideTitle();

    LinkRowPresenter m_presenter;
    QLabel *m_title;
    QLabel *m_info;
    QLabel *m_made;
    QLabel *m_status;
    QPushButton *m_copyLink;
    QPushButton *m_copyPassword;
    QPushButton *m_stop;
};
