#include "CorvaneDrive/Shares/ShareWindowPresenter.h"

#include "DriveCore/platform/ByteCountFormat.h"

#include <cmath>

using DriveCore::SharesModel;

ShareWindowPresenter::State ShareWindowPresenter::State::of(const SharesModel &shares)
{
    return {shares.workerLoadError(), shares.workerChecked(), shares.worker().has_value(), shares.createState(),
            shares.pickedTitle()};
}

ShareWindowPresenter::Face ShareWindowPresenter::face(const State &state)
{
    if (state.workerLoadError && !state.workerChecked)
        return Face::error;
    if (!state.workerChecked)
        return Face::opening;
    if (!state.hasWorker)
        return Face::setup;
    switch (state.createState.kind) {
    case SharesModel::CreateState::preparing:
        return Face::preparing;
    case SharesModel::CreateState::done:
        return state.createState.record ? Face::done : Face::form;
    case SharesModel::CreateState::failed:
    case SharesModel::CreateState::idle:
        break;
    }
    return Face::form;
}

ShareWindowPresenter::Key ShareWindowPresenter::key(const State &state)
{
    const Face shown = face(state);
    return {shown, shown == Face::done ? state.createState.record->id : QString()};
}

QString ShareWindowPresenter::preparingText(const QString &pickedTitle)
{
    return QStringLiteral("Ovra is making a locked copy of “") + pickedTitle
        + QStringLiteral("” for this link. Big movies take about as long as uploading them. Keep Ovra open; you can "
                         "close this window.");
}

std::optional<QString> ShareWindowPresenter::progressLine(const DriveCore::ShareProgress &progress)
{
    if (progress.total < 1)
        return std::nullopt;
    const double percent = std::trunc(double(progress.done) * 100.0 / double(progress.total));
    return QString::number(qint64(percent)) + QStringLiteral("% · ")
        + DriveCore::ByteCountFormat::fileSize(progress.done) + QStringLiteral(" of ")
        + DriveCore::ByteCountFormat::fileSize(progress.total);
}
