#pragma once

#include "CorvaneDrive/WindowPresence.h"
#include "CorvaneDrive/Windows/RecentlyDeletedPresenter.h"

#include <QPointer>
#include <QWidget>

class QLabel;
#include <QMessageBox>
class QPushButton;
class QTableWidget;

namespace CorvaneDrive {

class EmptyPanel;

// The Recently Deleted window: the table of what sits in Recently Deleted, the move line, and
// the bottom bar with the footer, the error and Restore, Delete Now and Empty Recently Deleted.
// At least 560 × 300; deletes itself on close (a restore or deletion under way goes on).
class RecentlyDeletedWindow : public QWidget {
    Q_OBJECT
public:
    explicit RecentlyDeletedWindow(DriveCore::AppModel &model, QWidget *parent = nullptr);
    explicit RecentlyDeletedWindow(RecentlyDeletedContext context, QWidget *parent = nullptr);
    ~RecentlyDeletedWindow() override;

    RecentlyDeletedPresenter &presenter() const { return *m_presenter; }
    QTableWidget *table() const { return m_table; }
    EmptyPanel *emptyPanel() const { return m_panel; }
    QLabel *moveLabel() const { return m_move; }
    QLabel *footerLabel() const { return m_footer; }
    QLabel *errorLabel() const { return m_error; }
    QPushButton *restoreButton() const { return m_restore; }
    QPushButton *deleteNowButton() const { return m_deleteNow; }
    QPushButton *emptyButton() const { return m_empty; }
    // The confirmation while it shows.
    QMessageBox *confirmation() const { return m_confirmation; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void render();
    void fillTable();
    void selectionEdited();

    RecentlyDeletedPresenter *m_presenter;
    WindowPresence m_presence;
    QTableWidget *m_table;
    EmptyPanel *m_panel;
    QWidget *m_moveRow;
    QLabel *m_move;
    QLabel *m_footer;
    QLabel *m_error;
    QPushButton *m_restore;
    QPushButton *m_deleteNow;
    QPushButton *m_empty;
    QPointer<QMessageBox> m_confirmation;
    QList<RecentlyDeletedPresenter::Row> m_shownRows;
    bool m_filling = false;
};

} // namespace CorvaneDrive
