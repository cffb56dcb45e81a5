#pragma once

#include "DriveCore/services/DriveSearch.h"
#include "DriveCore/support/Tasks.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <chrono>
#include <functional>
#include <optional>

namespace DriveCore {
class AppModel;
}

namespace CorvaneDrive {

// What the search window reads and calls of the app model and the desktop.
struct SearchContext {
    std::function<DriveCore::DriveSearch::Index()> searchIndex;
    std::function<std::optional<QDateTime>()> searchIndexedAt;
    // The drive's identifier; none while no drive is set up.
    std::function<std::optional<QUuid>()> deviceID;
    std::function<bool()> online;
    std::function<std::optional<QString>()> mountPath;
    // Lists the drive again into the model's index; throws AppModelError with the user's text.
    std::function<QCoro::Task<>(DriveCore::CancelToken)> refreshSearchIndex;
    std::function<void()> windowOpened = [] {};
    std::function<void()> windowClosed = [] {};
    // Each calls `changed` while `receiver` lives: on a new listing date, on new settings, and
    // on any other change of the reads above.
    using Observe = std::function<void(QObject *receiver, std::function<void()> changed)>;
    Observe observeIndexedAt = [](QObject *, std::function<void()>) {};
    Observe observeSettings = [](QObject *, std::function<void()>) {};
    Observe observe = [](QObject *, std::function<void()>) {};

    // The file manager shows these items selected (or, when none answers, their folder); the
    // desktop opens one item.
    std::function<void(const QList<QUrl> &)> reveal;
    std::function<void(const QUrl &)> open;
    // The wait after a keystroke before matching.
    std::function<QCoro::Task<>(std::chrono::milliseconds, DriveCore::CancelToken)> sleep =
        [](std::chrono::milliseconds duration, DriveCore::CancelToken token) {
            return DriveCore::sleep(duration, token);
        };

    static SearchContext live(DriveCore::AppModel &model);
};

// The search window's state: the query, the last applied results and the selected row, and a
// listing load of its own. Matching waits 0.12 s after the last change of the query, then runs
// on the thread pool; a result is applied only while its run is current and the query, the
// listing date and the drive are still those it started with. A load keeps an identifier and
// its outcome counts only while that is current.
class SearchPresenter : public QObject {
    Q_OBJECT
public:
    static inline const QString windowTitle = QStringLiteral("Search Ovra");
    static inline const QString fieldPlaceholder = QStringLiteral("Search file and folder names");
    // What a screen reader calls the field and the table.
    static inline const QString fieldName = QStringLiteral("Search");
    static inline const QString resultsName = QStringLiteral("Search results");
    static inline const QString refreshTitle = QStringLiteral("Refresh");
    static inline const QString cancelTitle = QStringLiteral("Cancel");
    static inline const QString showTitle = QStringLiteral("Show in File Manager");
    static inline const QString openTitle = QStringLiteral("Open");
    static inline const QString nameColumn = QStringLiteral("Name");
    static inline const QString folderColumn = QStringLiteral("Folder");
    static inline const QString modifiedColumn = QStringLiteral("Modified");
    static inline const QString sizeColumn = QStringLiteral("Size");
    static inline const QString pendingText = QStringLiteral("Upload pending");
    static inline const QString offlineNote =
        QStringLiteral("Offline: searching the last listing from this session. Some results may be unavailable.");
    static inline const QString searchIcon = QStringLiteral("system-search");
    static inline const QString folderIcon = QStringLiteral("folder");
    static inline const QString fileIcon = QStringLiteral("text-x-generic");

    static constexpr qsizetype limit = 500;
    static constexpr std::chrono::milliseconds debounce{120};
    static constexpr int defaultWidth = 760;
    static constexpr int defaultHeight = 520;
    static constexpr int minimumWidth = 650;
    static constexpr int minimumHeight = 360;
    static constexpr int margin = 16;
    static constexpr int spacing = 12;
    static constexpr int modifiedWidth = 125;
    static constexpr int sizeWidth = 75;

    struct Placeholder {
        QString title;
        QString description;
        bool operator==(const Placeholder &) const = default;
    };

    explicit SearchPresenter(SearchContext context, QObject *parent = nullptr);
    ~SearchPresenter() override;

    const QString &query() const { return m_query; }
    const DriveCore::DriveSearch::Results &results() const { return m_results; }
    const std::optional<QString> &selection() const { return m_selection; }
    bool loading() const { return m_loading; }
    const std::optional<QString> &error() const { return m_error; }

    bool canRefresh() const { return m_context.online() && m_context.deviceID().has_value(); }
    bool canReveal() const { return m_selection.has_value() && m_context.mountPath().has_value(); }
    bool offline() const { return !m_context.online(); }
    // Over the table while it has no rows.
    std::optional<Placeholder> placeholder() const;
    QString countText() const { return countText(m_results.total); }
    std::optional<QString> updatedText() const;

    static QString countText(qsizetype total);
    static Placeholder placeholderFor(const QString &query, bool loading);
    // The cells of a row.
    static QString folderText(const DriveCore::DriveSearchEntry &entry);
    static QString modifiedText(const DriveCore::DriveSearchEntry &entry);
    static QString sizeText(const DriveCore::DriveSearchEntry &entry);
    // File URLs of drive paths under the mount; paths that give none are left out.
    static QList<QUrl> urls(const QStringList &paths, const std::optional<QString> &mountPath);
    // The folder holding the first of `items`, opened when no file manager can show them.
    static QUrl folderOf(const QList<QUrl> &items);

    void setQuery(const QString &query);
    void setSelection(std::optional<QString> path);
    void refresh();
    void cancelLoad();
    void reveal(const QStringList &paths);
    void open(const QStringList &paths);
    void shown();
    void hidden();

signals:
    void changed();
    // A search run put its results in place.
    void resultsApplied();

private:
    struct Snapshot;
    static QCoro::Task<> search(QPointer<SearchPresenter> self, DriveCore::CancelToken token, bool debounced);
    static QCoro::Task<> load(QPointer<SearchPresenter> self,
                              std::function<QCoro::Task<>(DriveCore::CancelToken)> refresh, QUuid id,
                              DriveCore::CancelToken token);
    void startQueryRun();
    void indexChanged();
    void settingsChanged();

    SearchContext m_context;
    QString m_query;
    DriveCore::DriveSearch::Results m_results;
    std::optional<QString> m_selection;
    bool m_loading = false;
    std::optional<QString> m_error;
    DriveCore::TaskHandle<> m_loadTask;
    QUuid m_loadID = QUuid::createUuid();
    DriveCore::TaskHandle<> m_queryRun;
    bool m_shown = false;
    std::optional<QUuid> m_shownDevice;
};

} // namespace CorvaneDrive
