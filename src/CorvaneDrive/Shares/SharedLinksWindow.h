#pragma once

#include "CorvaneDrive/Shares/SharedLinksPresenter.h"
#include "CorvaneDrive/WindowPresence.h"
#include "DriveCore/shares/SharesModel.h"

#include <QCoroTask>
#include <QHash>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <functional>

class LinkRow;
class QDialog;
class QLabel;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QVBoxLayout;
class ShareSetupView;

// The window "Shared Links": every link the user made with its live status, to copy, stop or
// remove; "Refresh"; and the link page's update when this build carries a newer one. All data
// and all work on links belong to the share model; the window is deleted when it closes.
class SharedLinksWindow : public QWidget {
    Q_OBJECT
public:
    struct Hooks {
        std::function<void()> windowOpened; // the app model's windowOpened()
        std::function<void()> windowClosed; // the app model's windowClosed()
    };

    SharedLinksWindow(DriveCore::SharesModel &shares, Hooks hooks, QWidget *parent = nullptr);

    const SharedLinksPresenter &presenter() const { return m_presenter; }
    // The rows shown, in the model's order.
    QList<LinkRow *> rows() const;
    QWidget *updateBanner() const { return m_banner; }
    QPushButton *updateButton() const { return m_update; }
    QPushButton *refreshButton() const { return m_refresh; }
    QLabel *emptyText() const { return m_emptyText; }
    QLabel *barMessage() const { return m_barMessage; }
    // The stop confirmation, the stop failure alert and the update sheet while they show.
    QMessageBox *confirmation() const { return m_confirmation; }
    QMessageBox *failureAlert() const { return m_alert; }
    QDialog *updateSheet() const { return m_sheet; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void render();
    void renderRows();
    // Puts the focus on a sensible control when nothing visible has it.
    void keepFocus();
    void askToStop(const DriveCore::ShareRecord &record);
    QCoro::Task<> stop(DriveCore::ShareRecord record);
    void showFailure();
    void showUpdateSheet();

    QPointer<DriveCore::SharesModel> m_shares;
    SharedLinksPresenter m_presenter;
    WindowPresence m_presence;

    QWidget *m_banner;
    QPushButton *m_update;
    QStackedWidget *m_list;
    QWidget *m_empty;
    QWidget *m_spinner;
    QLabel *m_emptyText;
    QLabel *m_emptyHint;
    QScrollArea *m_scroll;
    QVBoxLayout *m_rowColumn;
    QHash<QString, LinkRow *> m_rows;
    QList<QWidget *> m_dividers;
    QLabel *m_barMessage;
    QPushButton *m_refresh;
    QPointer<QMessageBox> m_confirmation;
    QPointer<QMessageBox> m_alert;
    QPointer<QDialog> m_sheet;
};
