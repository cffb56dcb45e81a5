#pragma once

#include "DriveCore/services/RecentlyDeleted.h"
#include "DriveCore/support/Tasks.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace DriveCore {
class AppModel;
}

namespace CorvaneDrive {

// What the Recently Deleted window reads and calls of the app model. live() wires the model;
// tests give closures of their own.
struct RecentlyDeletedContext {
    std::function<QList<DriveCore::DeletedItem>()> deleted;
    std::function<std::optional<DriveCore::TrashStats>()> trashStats;
    std::function<std::optional<QString>()> trashMoveMessage;
    std::function<QString()> trashFooter;
    // The drive's name from the settings; none without settings.
    std::function<std::optional<QString>()> driveName;

    std::function<QCoro::Task<>(bool force)> refreshDeleted;
    std::function<QCoro::Task<>(DriveCore::DeletedItem)> restore;
    std::function<QCoro::Task<>(DriveCore::DeletedItem)> deleteNow;
    std::function<QCoro::Task<>()> emptyRecentlyDeleted;
    std::function<void()> windowOpened = [] {};
    std::function<void()> windowClosed = [] {};
    // Calls `changed` whenever one of the reads above may have changed, while `receiver` lives.
    std::function<void(QObject *receiver, std::function<void()> changed)> observe = [](QObject *,
                                                                                       std::function<void()>) {};

    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
    std::function<QCoro::Task<>(std::chrono::milliseconds, DriveCore::CancelToken)> sleep =
        [](std::chrono::milliseconds duration, DriveCore::CancelToken token) {
            return DriveCore::sleep(duration, token);
        };

    static RecentlyDeletedContext live(DriveCore::AppModel &model);
};

// The Recently Deleted window's state and actions: the selection, the spinner of the first
// refresh, a restore or deletion running, the error line and the confirmation waiting. While
// shown it refreshes the model's list every 2 s (only the first one forced and with the
// spinner), skipping while an action runs.
//
// An action over several items clears the error once, goes through every item and then names
// how many failed and the first failure. Restores and deletions go on when the window closes;
// they hold the presenter weakly and leave it alone once it is gone.
class RecentlyDeletedPresenter : public QObject {
    Q_OBJECT
public:
    enum class PermanentAction { deleteSelected, emptyAll };

    // The placeholder over an empty table.
    struct Panel {
        QString title;
        QString icon; // freedesktop icon name
        QString description;
        bool operator==(const Panel &) const = default;
    };

    struct Row {
        QString id;
        QString name;
        QString folder;
        QString deleted;
        QString daysLeft;
        bool operator==(const Row &) const = default;
    };

    static inline const QString windowTitle = QStringLiteral("Recently Deleted");
    // What a screen reader calls the table.
    static inline const QString tableName = QStringLiteral("Deleted files");
    static inline const QString nameColumn = QStringLiteral("Name");
    static inline const QString folderColumn = QStringLiteral("Original folder");
    static inline const QString deletedColumn = QStringLiteral("Deleted");
    static inline const QString daysLeftColumn = QStringLiteral("Days left");
    static inline const QString restoreTitle = QStringLiteral("Restore");
    static inline const QString deleteNowTitle = QStringLiteral("Delete Now");
    static inline const QString emptyTitle = QStringLiteral("Empty Recently Deleted");
    static inline const QString deleteTitle = QStringLiteral("Delete");
    static inline const QString cancelTitle = QStringLiteral("Cancel");
    static inline const QString driveFallback = QStringLiteral("Drive");
    static inline const QString moveIcon = QStringLiteral("view-refresh");
    static inline const QString trashIcon = QStringLiteral("user-trash");

    static constexpr int defaultWidth = 640;
    static constexpr int defaultHeight = 400;
    static constexpr int minimumWidth = 560;
    static constexpr int minimumHeight = 300;
    static constexpr int deletedWidth = 110;
    static constexpr int daysLeftWidth = 70;
    static constexpr int barPadding = 10;
    static constexpr std::chrono::milliseconds refreshEvery = std::chrono::seconds(2);

    explicit RecentlyDeletedPresenter(RecentlyDeletedContext context, QObject *parent = nullptr);
    ~RecentlyDeletedPresenter() override;

    // --- State ---
    const QSet<QString> &selection() const { return m_selection; }
    bool loading() const { return m_loading; }
    bool working() const { return m_working; }
    const std::optional<QString> &error() const { return m_error; }
    const std::optional<PermanentAction> &confirming() const { return m_confirming; }

    // --- What the window shows ---
    QList<Row> rows() const;
    // The empty panel, none while loading or with items.
    std::optional<Panel> panel() const;
    std::optional<QString> trashMoveMessage() const { return m_context.trashMoveMessage(); }
    QString footer() const { return m_context.trashFooter(); }
    bool canRestore() const { return !m_selection.isEmpty() && !m_working; }
    bool canDeleteNow() const { return canRestore(); }
    bool canEmpty() const { return !m_context.deleted().isEmpty() && !m_working; }
    // The confirmation's title, the same for both actions.
    static QString confirmTitle();

    // --- Input ---
    void setSelection(QSet<QString> ids);
    void restoreSelected();
    void askDeleteNow();
    void askEmpty();
    // "Delete" in the confirmation: runs the waiting action.
    void confirm();
    // "Cancel", or the confirmation dismissed any other way.
    void dismissConfirmation();
    // The window came on screen / left it.
    void shown();
    void hidden();

    // --- Rules ---
    // The parent folder of the original path; at the top, the drive's name, else "Drive".
    static QString folder(const QString &originalPath, const std::optional<QString> &driveName);
    static std::optional<Panel> emptyPanel(const std::optional<DriveCore::TrashStats> &stats);
    // The error after an action over `total` items: the first failure's text, preceded for
    // several items by how many failed ("2 of 3 couldn't be restored: "). `verb`: "restored",
    // "deleted".
    static QString failureText(int failed, int total, const QString &first, const QString &verb);

signals:
    void changed();

private:
    struct Outcome;
    static QCoro::Task<> runOverItems(QPointer<RecentlyDeletedPresenter> self, QList<DriveCore::DeletedItem> items,
                                      std::function<QCoro::Task<>(DriveCore::DeletedItem)> action, QString verb);
    static QCoro::Task<> runEmpty(QPointer<RecentlyDeletedPresenter> self, std::function<QCoro::Task<>()> action);
    static QCoro::Task<> refreshWhileVisible(QPointer<RecentlyDeletedPresenter> self, RecentlyDeletedContext context,
                                             DriveCore::CancelToken token);
    QList<DriveCore::DeletedItem> selectedItems() const;
    void beginWork();
    void endWork(std::optional<QString> error);

    RecentlyDeletedContext m_context;
    QSet<QString> m_selection;
    bool m_loading = false;
    bool m_working = false;
    std::optional<QString> m_error;
    bool m_errorFromRefresh = false;
    std::optional<PermanentAction> m_confirming;
    DriveCore::TaskHandle<> m_refresh;
};

} // namespace CorvaneDrive
