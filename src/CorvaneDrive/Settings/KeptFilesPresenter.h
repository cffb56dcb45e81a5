#pragma once

#include "DriveCore/services/KeepOnMac.h"
#include "DriveCore/services/KeptBrowser.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace CorvaneDrive {

// The "Kept on This Computer" tab's own state and rules: the search text, the order, the checked
// rows and whether a stop-keeping request runs, over the kept items the model last read.
// Toolkit-free; the tab renders it and hands its requests to the model.
class KeptFilesPresenter {
public:
    using PinStatus = DriveCore::PinStatus;
    using Sort = DriveCore::KeptBrowser::Sort;

    static inline const QString title = QStringLiteral("Kept on This Computer");
    static inline const QString explanation =
        QStringLiteral("Kept files stay available offline and don’t count toward your cache limit.");
    static inline const QString searchPlaceholder = QStringLiteral("Search names and folders");
    static inline const QString searchAccessibleName = QStringLiteral("Search kept files");
    static inline const QString sortLabel = QStringLiteral("Sort by");
    static inline const QString selectAllAccessibleName = QStringLiteral("Select all visible items");
    static inline const QString selectAllTooltip = QStringLiteral("Select or clear all visible items");
    static inline const QString nameColumn = QStringLiteral("Name");
    static inline const QString sizeColumn = QStringLiteral("Size");
    static inline const QString noSelectionText = QStringLiteral("Right-click a file for actions");
    static inline const QString actionsTitle = QStringLiteral("Actions");
    static inline const QString showTitle = QStringLiteral("Show in File Manager");
    static inline const QString stopTitle = QStringLiteral("Stop Keeping on This Computer");
    static inline const QString footnote =
        QStringLiteral("Stop Keeping frees offline storage. Your files stay in the cloud.");

    // Layout in device-independent pixels.
    static constexpr int spacing = 14;
    static constexpr int padding = 20;
    static constexpr int titleSpacing = 4;
    static constexpr int rowSpacing = 10;
    static constexpr int rowPadding = 3;
    static constexpr int headerPadding = 12;

    // The view over an empty list.
    struct EmptyState {
        QString title;
        QString iconName; // freedesktop
        QString description;

        bool operator==(const EmptyState &) const = default;
    };

    // The two entries of a row's context menu and of "Actions", and when each can be chosen.
    struct Actions {
        QStringList paths;
        bool canShow = false;
        bool canStopKeeping = false;

        bool operator==(const Actions &) const = default;
    };

    // "<n> item(s) · <bytes> downloaded", over every kept item.
    static QString summary(const QList<PinStatus> &all);
    // The line that tells how far keeping one item got.
    static QString status(const PinStatus &item);
    // The freedesktop icon of an item's state; none once it is all here.
    static std::optional<QString> statusIconName(const PinStatus &item);
    static QString kindIconName(const PinStatus &item);
    // The last path component.
    static QString name(const QString &path);
    // "Select <name>"
    static QString checkAccessibleName(const QString &path);
    static std::optional<EmptyState> emptyState(qsizetype allCount, qsizetype visibleCount);
    // The drive-relative paths as file URLs in the mount, leaving out any that does not map back
    // to exactly the same path (one that escapes the mount or names the mount itself).
    static QList<QUrl> revealURLs(const QStringList &paths, const std::optional<QString> &mountPath);

    // --- State ---
    const QList<PinStatus> &all() const { return m_all; }
    const QString &query() const { return m_query; }
    Sort sort() const { return m_sort; }
    const QSet<QString> &selection() const { return m_selection; }
    bool working() const { return m_working; }

    // A new kept list from the model: the checks narrow to the paths still kept when the set of
    // paths changed.
    void setItems(QList<PinStatus> items);
    // A new search: the checks narrow to the rows it shows.
    void setQuery(QString query);
    void setSort(Sort sort) { m_sort = sort; }
    void setChecked(const QString &path, bool checked);
    // On checks every visible row; off clears every check, hidden ones too.
    void setAllChecked(bool checked);
    // A stop-keeping request began or ended; at its end the checks narrow to the kept paths.
    void setWorking(bool working);

    QList<PinStatus> visible() const;
    QStringList visiblePaths() const;
    // The checked visible paths in visible order.
    QStringList selectedPaths() const;
    bool allChecked() const;
    bool canCheckAll() const;
    // "Right-click a file for actions" or "<n> selected".
    QString footerText() const;
    bool actionsMenuEnabled() const;
    // The paths a row's context menu acts on.
    QStringList contextPaths(const QString &clicked) const;
    Actions actions(const QStringList &paths, bool hasMount, bool changingDrive) const;
    // Whether a stop-keeping request may start now.
    bool canStopKeeping(const QStringList &paths, bool changingDrive) const;

private:
    QSet<QString> allPaths() const;
    void narrowTo(const QSet<QString> &paths);

    QList<PinStatus> m_all;
    QString m_query;
    Sort m_sort = Sort::name;
    QSet<QString> m_selection;
    bool m_working = false;
};

} // namespace CorvaneDrive
