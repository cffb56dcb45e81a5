#pragma once

#include "DriveCore/shares/SharesModel.h"

#include <QList>
#include <QString>

#include <optional>

// The Shared Links window's own state (the link whose stop is being confirmed, the last stop's
// failure, the update sheet) and what it shows around the model's rows.
class SharedLinksPresenter {
public:
    static inline const QString windowTitle = QStringLiteral("Shared Links");
    static inline const QString updateBanner = QStringLiteral("Your link page has an update.");
    static inline const QString updateTitle = QStringLiteral("Update…");
    static inline const QString emptyTitle = QStringLiteral("No shared links yet.");
    static inline const QString emptyHint = QStringLiteral("Use Share Files… in the Ovra menu to make one.");
    static inline const QString refreshTitle = QStringLiteral("Refresh");
    static inline const QString stopMessage =
        QStringLiteral("The link stops working straight away and its copy is deleted. Your own files aren't touched.");
    static inline const QString removeMessage =
        QStringLiteral("This link has already ended. Removing it also deletes anything left of its copy.");
    static inline const QString stopTitle = QStringLiteral("Stop Sharing");
    static inline const QString removeTitle = QStringLiteral("Remove");
    static inline const QString stopFailedTitle = QStringLiteral("Couldn't stop sharing");
    static inline const QString okTitle = QStringLiteral("OK");
    static inline const QString closeTitle = QStringLiteral("Close");

    static constexpr int initialWidth = 620;
    static constexpr int initialHeight = 420;
    static constexpr int minimumWidth = 560;
    static constexpr int minimumHeight = 320;
    static constexpr int barMargin = 12; // around the banner and the bottom bar
    static constexpr int emptySpacing = 8; // between the empty list's lines
    static constexpr int sheetWidth = 500;
    static constexpr int sheetMargin = 24;

    std::optional<DriveCore::ShareRecord> confirmStop; // the link whose stop is being confirmed
    std::optional<QString> error; // the last stop's failure
    bool showUpdate = false;

    // The first row of the link has ended; false without a row or while its status is not
    // fetched, live or unknown.
    static bool isEnded(const QList<DriveCore::SharesModel::Row> &rows, const DriveCore::ShareRecord &record);

    // The confirmation of confirmStop: "Remove “<title>” from the list?" for an ended link, else
    // "Stop sharing “<title>”?"; empty while none is asked.
    QString confirmTitle(const QList<DriveCore::SharesModel::Row> &rows) const;
    QString confirmMessage(const QList<DriveCore::SharesModel::Row> &rows) const;
    QString confirmButton(const QList<DriveCore::SharesModel::Row> &rows) const;

    enum class ListFace { spinner, empty, rows };
    static ListFace listFace(const QList<DriveCore::SharesModel::Row> &rows, bool loading);
    // The empty list's first line: the last load's failure or "No shared links yet.".
    static QString emptyText(const std::optional<QString> &listMessage);
    // The bottom bar's failure line: only while rows are listed.
    static std::optional<QString> barMessage(const QList<DriveCore::SharesModel::Row> &rows,
                                             const std::optional<QString> &listMessage);
    static bool canRefresh(bool loading) { return !loading; }
};
