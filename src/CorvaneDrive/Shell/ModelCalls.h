#pragma once

#include "DriveCore/keys/SetupState.h"
#include "DriveCore/model/AppModel.h"
#include "DriveCore/shares/ShareContext.h"
#include "KeepShared/KeepBridge.h"

#include <QCoroTask>
#include <QPointer>

#include <memory>
#include <optional>

namespace CorvaneDrive {

// The model's calls that the shell makes and the model does not offer yet, each built here as
// small as the shell needs it, on what the model offers. Each becomes a one-line forward to the
// model's own member once the model has it.
namespace ModelCalls {

// A keep request from the file manager: pins or unpins the items inside the drive while the
// drive runs, then refreshes. Never throws.
QCoro::Task<> handle(QPointer<DriveCore::AppModel> model, KeepShared::KeepRequest request);
// Posts the keep state last posted (or the current one) again.
void keepAddOnSaidHello(DriveCore::AppModel &model);
// Clears the model's keep alert.
void dismissKeepAlert(DriveCore::AppModel &model);
// A new setup assistant wired to the model; finishing it launches the drive again.
std::unique_ptr<DriveCore::SetupState> makeSetupState(DriveCore::AppModel &model);
// What a share action needs of the running drive; throws AppModelError when it isn't running.
QCoro::Task<DriveCore::ShareContext> shareContext(QPointer<DriveCore::AppModel> model);
std::optional<QString> shareBlockedReason(const DriveCore::AppModel &model);
// Keeps a Cloudflare API token in the key store.
QCoro::Task<> keepCloudflareKey(QPointer<DriveCore::AppModel> model, QString token);

inline const QString notConnectedShareText =
    QStringLiteral("Your drive isn't connected right now. Try again when Ovra shows your drive.");

} // namespace ModelCalls

} // namespace CorvaneDrive
