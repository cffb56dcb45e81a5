#include "CorvaneDrive/Shares/SharedLinksPresenter.h"

#include <algorithm>

using DriveCore::ShareInfo;
using DriveCore::SharesModel;

bool SharedLinksPresenter::isEnded(const QList<SharesModel::Row> &rows, const DriveCore::ShareRecord &record)
{
    const auto row =
        std::find_if(rows.begin(), rows.end(), [&](const SharesModel::Row &row) { return row.id() == record.id; });
    return row != rows.end() && row->status && row->status->kind == ShareInfo::Status::ended;
}

QString SharedLinksPresenter::confirmTitle(const QList<SharesModel::Row> &rows) const
{
    if (!confirmStop)
        return {};
    if (isEnded(rows, *confirmStop))
        return QStringLiteral("Remove “") + confirmStop->title + QStringLiteral("” from the list?");
    return QStringLiteral("Stop sharing “") + confirmStop->title + QStringLiteral("”?");
}

QString SharedLinksPresenter::confirmMessage(const QList<SharesModel::Row> &rows) const
{
    return confirmStop && isEnded(rows, *confirmStop) ? removeMessage : stopMessage;
}

QString SharedLinksPresenter::confirmButton(const QList<SharesModel::Row> &rows) const
{
    return confirmStop && isEnded(rows, *confirmStop) ? removeTitle : stopTitle;
}

SharedLinksPresenter::ListFace SharedLinksPresenter::listFace(const QList<SharesModel::Row> &rows, bool loading)
{
    if (!rows.isEmpty())
        return ListFace::rows;
    return loading ? ListFace::spinner : ListFace::empty;
}

QString SharedLinksPresenter::emptyText(const std::optional<QString> &listMessage)
{
    return listMessage.value_or(emptyTitle);
}

std::optional<QString> SharedLinksPresenter::barMessage(const QList<SharesModel::Row> &rows,
                                                        const std::optional<QString> &listMessage)
{
    return rows.isEmpty() ? std::nullopt : listMessage;
}
