#include "CorvaneDrive/Shell/ModelCalls.h"

#include "DriveCore/support/AppModelError.h"
#include "DriveCore/keys/OrganisePending.h"
#include "DriveCore/mount/FSKitMount.h"
#include "DriveCore/platform/UserDefaults.h"
#include "DriveCore/support/Log.h"
#include "KeepShared/KeepMenu.h"

#include <QSysInfo>

namespace CorvaneDrive::ModelCalls {

using namespace DriveCore;

namespace {

std::optional<RCClient> runningClient(const AppModel &model)
{
    if (model.supervisor().state().kind != SupervisorState::running)
        return std::nullopt;
    return model.supervisor().rc();
}

} // namespace

QCoro::Task<> handle(QPointer<AppModel> model, KeepShared::KeepRequest request)
{
    if (!model)
        co_return;
    const std::optional<RCClient> rc = runningClient(*model);
    const std::optional<QString> mount = model->mountPath();
    if (!rc || !mount)
        co_return;
    QStringList paths;
    for (const std::string &location : request.paths)
        if (const std::optional<std::string> path = KeepShared::KeepMenu::drivePath(location, mount->toStdString()))
            paths << QString::fromStdString(*path);
    if (paths.isEmpty())
        co_return;
    const AppModelHooks hooks = model->hooks();
    try {
        if (request.action == KeepShared::KeepRequest::Action::keep)
            co_await hooks.pin(*rc, paths, {});
        else
            co_await hooks.unpin(*rc, paths, {});
    } catch (const std::exception &error) {
        Log("app").error("A keep request failed: %{public}s", error.what());
    }
    if (model)
        co_await model->refresh();
}

void keepAddOnSaidHello(AppModel &model)
{
    std::optional<KeepShared::KeepState> state = model.lastKeepState();
    if (!state) {
        const std::optional<QString> mount = model.mountPath();
        if (!mount)
            return;
        std::vector<std::string> kept;
        for (const PinStatus &pin : model.keptItems())
            kept.push_back(pin.path.toStdString());
        state.emplace();
        state->mounts = {mount->toStdString()};
        state->pins[mount->toStdString()] = std::move(kept);
    }
    model.hooks().postKeepState(*state);
}

void dismissKeepAlert(AppModel &)
{
    // The model sets no keep alert yet, so there is none to clear.
}

std::unique_ptr<SetupState> makeSetupState(AppModel &model)
{
    SetupDeps deps;
    deps.connection = model.setupConnection() ? model.setupConnection()
                                              : std::make_shared<DriveConnection>(QStringLiteral("/nonexistent/rclone"));
    deps.secrets = model.secrets();
    const std::shared_ptr<UserDefaults> defaults = model.defaults();
    deps.saveSettings = [defaults](const DriveSettings &settings) { settings.save(*defaults); };
    QPointer<AppModel> weak(&model);
    deps.startDrive = [weak]() -> QCoro::Task<> {
        if (!weak)
            co_return;
        co_await weak->launch();
        if (weak && weak->phase().isProblem())
            throw AppModelError(weak->phase().text);
    };
    deps.enableStartAtLogin = [weak] {
        if (!weak)
            return false;
        try {
            weak->hooks().setLoginItem(true);
            return true;
        } catch (const std::exception &error) {
            Log("app").error("Start at login couldn't be turned on: %{public}s", error.what());
            return false;
        }
    };
    deps.setOrganisePending = [defaults](std::optional<OrganiseKind> kind) { OrganisePending::save(kind, *defaults); };
    deps.freeDiskBytes = model.hooks().freeDiskBytes;
    deps.deviceName = QSysInfo::machineHostName();
    if (deps.deviceName.isEmpty())
        deps.deviceName = QStringLiteral("Mac");
    deps.existingSettings = DriveSettings::load(*defaults);
    if (model.driveEngineSetting() == DriveEngine::fskit) {
        const auto available = model.hooks().fskitAvailable;
        deps.driveSwitchOn = [available] { return FSKitMount::answer(std::chrono::seconds(5), available); };
    }
    return std::make_unique<SetupState>(std::move(deps));
}

QCoro::Task<ShareContext> shareContext(QPointer<AppModel> model)
{
    if (!model || model->phase().kind != AppModelPhase::running || !model->settings() || !model->mountPath())
        throw AppModelError(notConnectedShareText);
    const std::optional<RCClient> rc = model->supervisor().rc();
    if (!rc)
        throw AppModelError(notConnectedShareText);
    const std::shared_ptr<SecretStoring> secrets = model->secrets();
    const std::optional<std::pair<StorageSecrets, QString>> keys = co_await secrets->load();
    if (!keys)
        throw AppModelError(AppModel::keysUnreadableText);
    std::optional<QString> cloudflareKey;
    try {
        cloudflareKey = co_await secrets->loadCloudflareKey();
    } catch (const std::exception &error) {
        Log("app").error("The Cloudflare API token couldn't be read: %{public}s", error.what());
    }
    if (!model || !model->settings() || !model->mountPath())
        throw AppModelError(notConnectedShareText);
    co_return ShareContext{
        .rc = *rc,
        .storage = model->hooks().shareStorage(keys->first),
        .deviceName = model->settings()->deviceName,
        .mountPath = *model->mountPath(),
        .endpoint = keys->first.endpoint,
        .bucket = keys->first.bucket,
        .blockedReason = shareBlockedReason(*model),
        .cloudflareKey = cloudflareKey,
    };
}

std::optional<QString> shareBlockedReason(const AppModel &model)
{
    if (model.phase().kind == AppModelPhase::running)
        return std::nullopt;
    return notConnectedShareText;
}

QCoro::Task<> keepCloudflareKey(QPointer<AppModel> model, QString token)
{
    if (!model)
        co_return;
    const std::shared_ptr<SecretStoring> secrets = model->secrets();
    co_await secrets->saveCloudflareKey(token);
}

} // namespace CorvaneDrive::ModelCalls
