#include "CorvaneDrive/Windows/UploadsPresenter.h"

#include "DriveCore/platform/ByteCountFormat.h"

#include <algorithm>

namespace CorvaneDrive::UploadsPresenter {

using DriveCore::UploadRow;

QString timeLeft(std::optional<qint64> seconds)
{
    if (!seconds)
        return QStringLiteral("working out time left");
    if (*seconds < 60)
        return QStringLiteral("less than a minute left");
    const qint64 minutes = *seconds / 60 + (*seconds % 60 ? 1 : 0);
    return QString::number(minutes) + QStringLiteral(" min left");
}

RowLook look(const UploadRow &row)
{
    RowLook look;
    look.size = DriveCore::ByteCountFormat::fileSize(row.size);
    if (const auto *uploading = std::get_if<UploadRow::Uploading>(&row.state)) {
        look.icon = QStringLiteral("document-send");
        look.iconTint = Tint::accent;
        look.percent = int(std::clamp<qint64>(uploading->percent, 0, 100));
        look.detail =
            QString::number(uploading->percent) + QStringLiteral("% \u2014 ") + timeLeft(uploading->etaSeconds);
    } else if (const auto *waiting = std::get_if<UploadRow::Waiting>(&row.state)) {
        look.icon = queuedIcon;
        look.detail = waiting->reason;
    } else if (const auto *problem = std::get_if<UploadRow::Problem>(&row.state)) {
        look.icon = QStringLiteral("dialog-warning");
        look.iconTint = Tint::orange;
        look.detail = problem->text;
        look.detailTint = Tint::orange;
    } else {
        look.icon = emptyIcon;
        look.iconTint = Tint::green;
        look.detail = safeText;
        look.detailTint = Tint::green;
    }
    return look;
}

bool showsList(const QList<UploadRow> &rows, const std::optional<QString> &queuedSummary)
{
    return !rows.isEmpty() || queuedSummary.has_value();
}

} // namespace CorvaneDrive::UploadsPresenter
