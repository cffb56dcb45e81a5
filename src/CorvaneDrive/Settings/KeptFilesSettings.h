#pragma once

#include "CorvaneDrive/Settings/KeptFilesPresenter.h"
#include "CorvaneDrive/Settings/SettingsContext.h"

#include "DriveCore/model/AppModel.h"

#include <QCoroTask>
#include <QPointer>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace CorvaneDrive {

// The "Kept on This Computer" tab: every item kept here for offline use as the model last read it,
// to search, sort, check, show in the file manager or stop keeping. Adds nothing itself.
class KeptFilesSettings : public QWidget {
    Q_OBJECT
public:
    KeptFilesSettings(DriveCore::AppModel &model, const SettingsContext &context, QWidget *parent = nullptr);

    const KeptFilesPresenter &state() const { return m_state; }

    // The entries of a context menu or of "Actions" for these paths.
    QMenu *actionsMenu(const QStringList &paths, QWidget *parent);
    void reveal(const QStringList &paths);
    void stopKeeping(const QStringList &paths);

    QLabel *summaryLine() const { return m_summary; }
    QProgressBar *indicator() const { return m_indicator; }
    QLineEdit *searchField() const { return m_search; }
    QComboBox *sortPicker() const { return m_sort; }
    QCheckBox *selectAll() const { return m_selectAll; }
    QTreeWidget *list() const { return m_list; }
    QWidget *emptyView() const { return m_empty; }
    QLabel *emptyTitle() const { return m_emptyTitle; }
    QLabel *footerLine() const { return m_footer; }
    QPushButton *actionsButton() const { return m_actions; }
    // The row of a path, or none when it is not listed.
    QTreeWidgetItem *row(const QString &path) const;

private:
    void render();
    void showRows();
    static QCoro::Task<> removing(QPointer<KeptFilesSettings> self, QPointer<DriveCore::AppModel> model,
                                  QStringList paths);

    QPointer<DriveCore::AppModel> m_model;
    SettingsContext m_context;
    KeptFilesPresenter m_state;
    QLabel *m_summary;
    QProgressBar *m_indicator;
    QLineEdit *m_search;
    QComboBox *m_sort;
    QCheckBox *m_selectAll;
    QTreeWidget *m_list;
    QWidget *m_empty;
    QLabel *m_emptyIcon;
    QLabel *m_emptyTitle;
    QLabel *m_emptyDescription;
    QLabel *m_footer;
    QPushButton *m_actions;
    bool m_showing = false;
};

} // namespace CorvaneDrive
