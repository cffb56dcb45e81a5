#pragma once

#include "CorvaneDrive/WindowPresence.h"
#include "CorvaneDrive/Windows/SearchPresenter.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace CorvaneDrive {

class EmptyPanel;
class SearchResultsModel;

// The search window ("Search Ovra"): the search field with Refresh or the load's spinner and
// Cancel, the results table, the count and listing time with "Show in File Manager", the load's error
// and the offline note. 760 × 520 at first, at least 650 × 360; deletes itself on close.
class SearchWindow : public QWidget {
    Q_OBJECT
public:
    explicit SearchWindow(DriveCore::AppModel &model, QWidget *parent = nullptr);
    explicit SearchWindow(SearchContext context, QWidget *parent = nullptr);
    ~SearchWindow() override;

    SearchPresenter &presenter() const { return *m_presenter; }
    QLineEdit *searchField() const { return m_field; }
    QPushButton *refreshButton() const { return m_refresh; }
    QPushButton *cancelButton() const { return m_cancel; }
    QProgressBar *spinner() const { return m_spinner; }
    QTableView *table() const { return m_table; }
    EmptyPanel *emptyPanel() const { return m_panel; }
    QLabel *countLabel() const { return m_count; }
    QLabel *updatedLabel() const { return m_updated; }
    QPushButton *showButton() const { return m_show; }
    QLabel *errorLabel() const { return m_error; }
    QLabel *offlineLabel() const { return m_offline; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void render();
    void selectionEdited();
    void showContextMenu(const QPoint &position);
    QStringList selectedPaths() const;

    SearchPresenter *m_presenter;
    WindowPresence m_presence;
    QLineEdit *m_field;
    QProgressBar *m_spinner;
    QPushButton *m_cancel;
    QPushButton *m_refresh;
    QTableView *m_table;
    SearchResultsModel *m_model;
    EmptyPanel *m_panel;
    QLabel *m_count;
    QLabel *m_updated;
    QPushButton *m_show;
    QLabel *m_error;
    QLabel *m_offline;
    bool m_filling = false;
};

} // namespace CorvaneDrive
