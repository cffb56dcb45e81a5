#pragma once

#include "DriveCore/mount/UploadStatus.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace DriveCore {
class AppModel;
}

namespace CorvaneDrive {

// What the uploads window reads of the app model.
struct UploadsContext {
    std::function<QString()> statusLine;
    std::function<QList<DriveCore::UploadRow>()> uploads;
    std::function<std::optional<QString>()> queuedSummary;
    std::function<void()> windowOpened = [] {};
    std::function<void()> windowClosed = [] {};
    // Calls `changed` whenever one of the reads may have changed, while `receiver` lives.
    std::function<void(QObject *receiver, std::function<void()> changed)> observe = [](QObject *,
                                                                                       std::function<void()>) {};

    static UploadsContext live(DriveCore::AppModel &model);
};

// How the uploads window draws the model's rows. It has no state and no actions of its own.
namespace UploadsPresenter {

enum class Tint { accent, secondary, orange, green };

// One row's icon and the line under its name.
struct RowLook {
    QString icon; // freedesktop icon name
    Tint iconTint = Tint::secondary;
    // Uploading: a bar of `percent` out of 100 beside `detail`; otherwise `detail` alone.
    std::optional<int> percent;
    QString detail;
    Tint detailTint = Tint::secondary;
    QString size;

    bool operator==(const RowLook &) const = default;
};

inline const QString windowTitle = QStringLiteral("Uploads");
// What a screen reader calls the list.
inline const QString listName = QStringLiteral("Uploads");
inline const QString emptyTitle = QStringLiteral("Nothing uploading");
inline const QString emptyDescription = QStringLiteral("Files you add to the drive show here while they upload.");
inline const QString emptyIcon = QStringLiteral("emblem-default");
inline const QString queuedIcon = QStringLiteral("appointment-soon");
inline const QString safeText = QStringLiteral("Safe in cloud \u2713");

inline constexpr int defaultWidth = 480;
inline constexpr int defaultHeight = 360;
inline constexpr int minimumWidth = 420;
inline constexpr int minimumHeight = 280;
inline constexpr int rowSpacing = 10;
inline constexpr int rowPadding = 2;
inline constexpr int iconWidth = 20;
inline constexpr int lineSpacing = 3;
inline constexpr int barWidth = 160;

// "working out time left", "less than a minute left", or whole minutes rounded up + " min left".
QString timeLeft(std::optional<qint64> seconds);
RowLook look(const DriveCore::UploadRow &row);
// The list shows while there are rows or a queued summary; otherwise the placeholder.
bool showsList(const QList<DriveCore::UploadRow> &rows, const std::optional<QString> &queuedSummary);

} // namespace UploadsPresenter

} // namespace CorvaneDrive
