#include "CorvaneDrive/Shares/ShareFormPresenter.h"

#include <algorithm>

using DriveCore::ShareExpiry;

const QList<std::pair<QString, ShareExpiry::Value>> ShareFormPresenter::expiryOptions{
    {QStringLiteral("1 hour"), ShareExpiry::oneHour},
    {QStringLiteral("1 day"), ShareExpiry::oneDay},
    {QStringLiteral("7 days"), ShareExpiry::sevenDays},
    {QStringLiteral("30 days"), ShareExpiry::thirtyDays},
    {QStringLiteral("Always (until I stop it)"), ShareExpiry::never},
};

const QList<std::pair<QString, ShareFormPresenter::Limit>> ShareFormPresenter::limitOptions{
    {QStringLiteral("No limit"), Limit::none},    {QStringLiteral("1 download"), Limit::one},
    {QStringLiteral("5 downloads"), Limit::five}, {QStringLiteral("10 downloads"), Limit::ten},
    {QStringLiteral("Other…"), Limit::custom},
};

QString ShareFormPresenter::heading(const QString &pickedTitle)
{
    return QStringLiteral("Share “") + pickedTitle + QStringLiteral("”");
}

bool ShareFormPresenter::canCreate(bool somethingPicked, const std::optional<QString> &blockedReason) const
{
    return somethingPicked && !blockedReason && !(usePassword && password.isEmpty());
}

DriveCore::ShareOptions ShareFormPresenter::options() const
{
    std::optional<qint64> maxDownloads;
    switch (limit) {
    case Limit::none:
        break;
    case Limit::one:
        maxDownloads = 1;
        break;
    case Limit::five:
        maxDownloads = 5;
        break;
    case Limit::ten:
        maxDownloads = 10;
        break;
    case Limit::custom:
        maxDownloads = customLimit;
        break;
    }
    return {expiry, maxDownloads, usePassword ? std::optional(password) : std::nullopt};
}

qint64 ShareFormPresenter::stepped(qint64 value, int steps)
{
    return std::clamp<qint64>(value + steps, customLimitMin, customLimitMax);
}

std::optional<QString> ShareFormPresenter::failureText(const DriveCore::SharesModel::CreateState &state)
{
    if (state.kind == DriveCore::SharesModel::CreateState::failed)
        return state.text;
    return std::nullopt;
}
