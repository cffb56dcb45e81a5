// The windows wired to the application's one model.
#include "CorvaneDrive/Windows/ConflictPresenter.h"
#include "CorvaneDrive/Windows/CopyAllPresenter.h"
#include "CorvaneDrive/Windows/RecentlyDeletedPresenter.h"
#include "CorvaneDrive/Windows/SearchPresenter.h"
#include "CorvaneDrive/Windows/UploadsPresenter.h"
#include "DriveCore/model/AppModel.h"
#include "DriveCore/platform/FileManager.h"

#include <QDesktopServices>

#include <initializer_list>

namespace CorvaneDrive {

using DriveCore::AppModel;

namespace {

using Signal = void (AppModel::*)();

// Calls `changed` on each of the model's `signals` while `receiver` lives.
std::function<void(QObject *, std::function<void()>)> observing(AppModel &model, std::initializer_list<Signal> changes)
{
    return [&model, list = std::vector<Signal>(changes)](QObject *receiver, std::function<void()> changed) {
        for (const Signal signal : list)
            QObject::connect(&model, signal, receiver, changed);
    };
}

} // namespace

ConflictContext ConflictContext::live(AppModel &model)
{
    return {
        .currentConflict = [&model] { return model.currentConflict(); },
        .counter = [&model] { return model.conflictCounter(); },
        .resolve = [&model](DriveCore::ConflictChoice choice) { return model.resolveConflict(choice); },
        .observe = observing(model, {&AppModel::conflictsChanged}),
    };
}

CopyAllContext CopyAllContext::live(AppModel &model)
{
    CopyAllContext context;
    context.run = &model.copyAllRun();
    context.driveSize = [&model] { return model.driveSize(); };
    context.windowOpened = [&model] { model.windowOpened(); };
    context.windowClosed = [&model] { model.windowClosed(); };
    return context;
}

RecentlyDeletedContext RecentlyDeletedContext::live(AppModel &model)
{
    RecentlyDeletedContext context;
    context.deleted = [&model] { return model.deleted(); };
    context.trashStats = [&model] { return model.deletedTrashStats(); };
    context.trashMoveMessage = [&model] { return model.trashMoveMessage(); };
    context.trashFooter = [&model] { return model.trashFooter(); };
    context.driveName = [&model] {
        return model.settings() ? std::optional(model.settings()->driveName) : std::nullopt;
    };
    context.refreshDeleted = [&model](bool force) { return model.refreshDeleted(force); };
    context.restore = [&model](DriveCore::DeletedItem item) { return model.restore(std::move(item)); };
    context.deleteNow = [&model](DriveCore::DeletedItem item) { return model.deleteNow(std::move(item)); };
    context.emptyRecentlyDeleted = [&model] { return model.emptyRecentlyDeleted(); };
    context.windowOpened = [&model] { model.windowOpened(); };
    context.windowClosed = [&model] { model.windowClosed(); };
    context.observe = observing(model,
                                {&AppModel::deletedChanged, &AppModel::deletedTrashStatsChanged,
                                 &AppModel::settingsChanged, &AppModel::onlineChanged});
    context.now = [&model] { return model.hooks().now(); };
    context.sleep = model.hooks().sleep;
    return context;
}

SearchContext SearchContext::live(AppModel &model)
{
    SearchContext context;
    context.searchIndex = [&model] { return model.searchIndex(); };
    context.searchIndexedAt = [&model] { return model.searchIndexedAt(); };
    context.deviceID = [&model] { return model.settings() ? std::optional(model.settings()->deviceID) : std::nullopt; };
    context.online = [&model] { return model.online(); };
    context.mountPath = [&model] { return model.mountPath(); };
    context.refreshSearchIndex = [&model](DriveCore::CancelToken token) { return model.refreshSearchIndex(token); };
    context.windowOpened = [&model] { model.windowOpened(); };
    context.windowClosed = [&model] { model.windowClosed(); };
    context.observeIndexedAt = observing(model, {&AppModel::searchIndexedAtChanged});
    context.observeSettings = observing(model, {&AppModel::settingsChanged});
    context.observe = observing(model, {&AppModel::onlineChanged});
    context.reveal = [](const QList<QUrl> &items) {
        DriveCore::FileManager::showItems(items, QDBusConnection::sessionBus(),
                                          [items] { QDesktopServices::openUrl(SearchPresenter::folderOf(items)); });
    };
    context.open = [](const QUrl &item) { QDesktopServices::openUrl(item); };
    return context;
}

UploadsContext UploadsContext::live(AppModel &model)
{
    UploadsContext context;
    context.statusLine = [&model] { return model.statusLine(); };
    context.uploads = [&model] { return model.uploads(); };
    context.queuedSummary = [&model] { return model.queuedSummary(); };
    context.windowOpened = [&model] { model.windowOpened(); };
    context.windowClosed = [&model] { model.windowClosed(); };
    context.observe =
        observing(model, {&AppModel::statusLineChanged, &AppModel::uploadsChanged, &AppModel::queuedSummaryChanged});
    return context;
}

} // namespace CorvaneDrive
