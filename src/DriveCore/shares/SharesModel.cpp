#include "DriveCore/shares/SharesModel.h"

#include "DriveCore/engine/RCClient.h"
#include "DriveCore/shares/RcloneShareStorage.h"
#include "DriveCore/shares/ShareCreator.h"
#include "DriveCore/shares/ShareFiles.h"
#include "DriveCore/shares/ShareFormat.h"
#include "DriveCore/shares/ShareRecords.h"
#include "DriveCore/support/AppModelError.h"
#include "DriveCore/support/Log.h"
#include "DriveCore/support/Threads.h"
#include "DriveCore/support/UserError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <memory>
#include <mutex>
#include <type_traits>
#include <variant>

namespace DriveCore {

namespace {

const Log logger("shares");

// The transport failures of a machine without a network: no name can be looked up, or the
// network went away.
bool isOffline(QNetworkReply::NetworkError code)
{
    return code == QNetworkReply::HostNotFoundError || code == QNetworkReply::TemporaryNetworkFailureError
        || code == QNetworkReply::NetworkSessionFailedError;
}

// A path as compared with the mount folder: symbolic links resolved where it exists, "." and
// ".." gone; its components. Looks at the file system: in the pool.
QStringList components(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const QString resolved = canonical.isEmpty() ? QDir::cleanPath(QDir::current().absoluteFilePath(path)) : canonical;
    return resolved.split(u'/', Qt::SkipEmptyParts);
}

bool isInside(const QStringList &path, const QStringList &root)
{
    return path.size() > root.size() && std::equal(root.begin(), root.end(), path.begin());
}

// The id of the record one creation saved, written by the creator's save step.
class SavedID {
public:
    void set(const QString &id)
    {
        const std::lock_guard lock(m_lock);
        m_value = id;
    }
    std::optional<QString> value() const
    {
        const std::lock_guard lock(m_lock);
        return m_value;
    }

private:
    mutable std::mutex m_lock;
    std::optional<QString> m_value;
};

QCoro::Task<> saveRecord(ShareRecords records, std::shared_ptr<SavedID> saved, ShareRecord record)
{
    const QString id = record.id;
    co_await records.save(std::move(record));
    saved->set(id);
}

bool mayStillBeLive(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const ShareCreator::Failure &creator) {
        return creator.value == ShareCreator::Failure::mayStillBeLive;
    } catch (...) {
        return false;
    }
}

// The new-link window's state after a creation failed.
SharesModel::CreateState failedCreation(const std::exception_ptr &failure, bool cancelled)
{
    using CreateState = SharesModel::CreateState;
    try {
        std::rethrow_exception(failure);
    } catch (const CancelledError &) {
        return {};
    } catch (const ShareFiles::Failure &files) {
        return CreateState::makeFailed(files.value == ShareFiles::Failure::nothingToShare
                                           ? SharesModel::nothingToShareText
                                           : SharesModel::unreadableText(files.name));
    } catch (const ShareCreator::Failure &creator) {
        return CreateState::makeFailed(creator.value == ShareCreator::Failure::mayStillBeLive
                                           ? SharesModel::mayStillBeLiveText
                                           : SharesModel::fileChangedText(creator.text));
    } catch (...) {
        if (cancelled)
            return {};
        return CreateState::makeFailed(SharesModel::message(std::current_exception()));
    }
}

} // namespace

QString SharesModel::unreadableText(const QString &name)
{
    return QStringLiteral("Ovra couldn't read “") + name
        + QStringLiteral("” in your drive (are you online?). Nothing was shared. Try again.");
}

QString SharesModel::fileChangedText(const QString &path)
{
    return QStringLiteral("“") + path
        + QStringLiteral("” changed while it was being shared. Wait until it has finished copying, then try again.");
}

SharesModel::SharesModel(Deps deps, QObject *parent)
    : QObject(parent), m_context(std::move(deps.context)), m_blocked(std::move(deps.blocked)),
      m_appBuild(deps.appBuild), m_send(std::move(deps.send)), m_modules(std::move(deps.modules)),
      m_pwRounds(deps.passwordRounds), m_now(std::move(deps.now)), m_metaFs(std::move(deps.metaFs)),
      m_keepKey(std::move(deps.keepKey))
{
}

// The running creation is cancelled; it cleans up after itself without the model.
SharesModel::~SharesModel() = default;

QString SharesModel::installedWorkerFolder()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath()
                           + QStringLiteral("/../share/corvane-drive/share-worker"));
}

SharesModel::Modules SharesModel::modulesIn(QString folder)
{
    return [folder] {
        if (!QFileInfo(folder).isDir())
            throw AppModelError(missingModulesText);
        return ShareWorkerDeploy::modules(folder);
    };
}

QString SharesModel::pickedTitle() const
{
    return ShareFiles::title(m_picked);
}

QString SharesModel::message(const std::exception &error)
{
    // A storage failure's text is the engine's, told as such.
    if (const auto *storage = dynamic_cast<const RcloneShareStorage::Failure *>(&error))
        return storagePrefix + storage->description;
    if (const auto *user = dynamic_cast<const UserError *>(&error))
        return user->userText();
    if (const auto *transport = dynamic_cast<const HTTPTransportError *>(&error);
        transport && isOffline(transport->code))
        return offlineText;
    // Failures without a text of their own get the generic wording, their case in brackets.
    if (dynamic_cast<const ShareFormat::Failure *>(&error) || dynamic_cast<const ShareWorkerDeploy::Failure *>(&error)
        || dynamic_cast<const ShareFiles::Failure *>(&error) || dynamic_cast<const ShareCreator::Failure *>(&error))
        return genericText + QStringLiteral(" (") + QString::fromUtf8(error.what()) + u')';
    return QString::fromUtf8(error.what());
}

QString SharesModel::message(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &known) {
        return message(known);
    } catch (...) {
        return genericText;
    }
}

QCoro::Task<> SharesModel::pick(QStringList paths)
{
    const QPointer<SharesModel> self(this);
    try {
        const ShareContext context = co_await whileAlive(self, m_context());
        const bool inside =
            co_await whileAlive(self, runInPool([paths, mount = context.mountPath] {
                                    const QStringList root = components(mount);
                                    return std::all_of(paths.begin(), paths.end(), [&](const QString &path) {
                                        return isInside(components(path), root);
                                    });
                                }));
        if (!inside)
            throw AppModelError(outsideDriveText);
        if (isCreating())
            co_return;
        update(m_picked, paths);
        setCreateState(CreateState{});
    } catch (const OwnerGone &) {
        // The model is gone: there is nothing left to update.
    }
}

void SharesModel::create(ShareOptions options)
{
    if (isCreating() || m_picked.isEmpty())
        return;
    setCreateState(CreateState::makePreparing({}));
    const quint64 serial = ++m_createSerial;
    TaskHandle<> task = TaskHandle<>::start([this, options, picked = m_picked, serial](CancelToken token) {
        return runCreate(options, picked, serial, std::move(token));
    });
    // A creation that ended at once has already let go of its handle.
    if (!task.isFinished())
        m_createTask = std::move(task);
}

QCoro::Task<> SharesModel::runCreate(ShareOptions options, QStringList picked, quint64 serial, CancelToken token)
{
    const QPointer<SharesModel> self(this);
    const auto saved = std::make_shared<SavedID>();
    std::optional<ShareRecords> records;
    std::optional<ShareRecord> made;
    std::exception_ptr failure;
    try {
        const ShareContext context = co_await whileAlive(self, m_context());
        if (context.blockedReason)
            throw AppModelError(*context.blockedReason);
        if (options.maxDownloads && (*options.maxDownloads < 1 || *options.maxDownloads > maxDownloadLimit))
            throw AppModelError(downloadLimitText);
        if (!m_worker)
            throw AppModelError(noLinkPageText);
        const QUrl workerURL = m_worker->url;

        struct Collected {
            QStringList sharedPaths; // inside the drive, as the record keeps them
            QList<ShareItem> items;
        };
        const Collected collected =
            co_await whileAlive(self, runInPool([picked, mount = context.mountPath] {
                                    const qsizetype depth = components(mount).size();
                                    QStringList sharedPaths;
                                    for (const QString &path : picked)
                                        sharedPaths.append(components(path).mid(depth).join(u'/'));
                                    return Collected{sharedPaths, ShareFiles::collect(picked)};
                                }));

        records.emplace(context.rc, m_metaFs);
        const ShareCreator creator(context.storage, m_pwRounds);
        const ShareRecords saving = *records;
        // Not guarded: whatever happens to the model, the creation runs to its end, so that a
        // record it saved can be removed again below.
        made = co_await creator.create(
            collected.items, ShareFiles::title(picked), collected.sharedPaths, options, workerURL, context.deviceName,
            m_now(), chunkSize,
            [self, serial](const ShareProgress &progress) {
                onMainThread([self, serial, progress] {
                    if (self && self->m_createSerial == serial && self->isCreating())
                        self->setCreateState(CreateState::makePreparing(progress));
                });
            },
            [saving, saved](ShareRecord record) { return saveRecord(saving, saved, std::move(record)); }, token);
    } catch (const OwnerGone &) {
        co_return; // before the creation began: nothing was written
    } catch (...) {
        failure = std::current_exception();
    }

    // A link that failed takes its record with it, unless it may still work: then the record
    // is what lets the user stop it.
    const std::optional<QString> savedID = saved->value();
    if (failure && savedID && !mayStillBeLive(failure)) {
        try {
            co_await records->remove(*savedID); // not under the creation's token
        } catch (const std::exception &error) {
            logger.error("The record of a failed share link was not removed: %{public}s", error.what());
        }
    }
    if (!self)
        co_return;
    if (failure) {
        setCreateState(failedCreation(failure, token.stop_requested()));
    } else {
        setCreateState(CreateState::makeDone(*made));
        // A load that ran while the link was being finished may have listed it already.
        const auto listed =
            std::find_if(m_rows.begin(), m_rows.end(), [&](const Row &row) { return row.id() == made->id; });
        if (listed != m_rows.end())
            listed->record = *made;
        else
            m_rows.prepend(Row{*made, std::nullopt});
        emit changed();
    }
    m_createTask.reset();
}

void SharesModel::cancelCreate()
{
    if (m_createTask)
        m_createTask->cancel();
}

void SharesModel::reset()
{
    if (isCreating())
        return;
    update(m_picked, QStringList());
    setCreateState(CreateState{});
}

QCoro::Task<> SharesModel::load()
{
    try {
        co_await runLoad();
    } catch (const OwnerGone &) {
        // The model is gone: there is nothing left to update.
    }
}

QCoro::Task<> SharesModel::runLoad()
{
    const QPointer<SharesModel> self(this);
    update(m_loading, true);
    const std::optional<Found> found = co_await lookUp(&SharesModel::m_listMessage);
    if (!found) {
        update(m_loading, false);
        co_return;
    }
    co_await adoptWorker(found->context, found->worker);
    const ShareContext &context = found->context;

    std::optional<QString> failure;
    QList<ShareRecord> records;
    try {
        records = co_await whileAlive(self, ShareRecords(context.rc, m_metaFs).all());
    } catch (const OwnerGone &) {
        throw;
    } catch (...) {
        failure = message(std::current_exception());
    }
    if (failure) {
        update(m_listMessage, failure);
        update(m_loading, false);
        co_return;
    }

    // A reloaded link keeps its last status until its new one arrives.
    QHash<QString, std::optional<ShareInfo::Status>> known;
    for (const Row &row : std::as_const(m_rows)) {
        if (!known.contains(row.id()))
            known.insert(row.id(), row.status);
    }
    QList<Row> rows;
    rows.reserve(records.size());
    for (const ShareRecord &record : std::as_const(records))
        rows.append(Row{record, known.value(record.id)});
    update(m_rows, rows);
    update(m_listMessage, std::optional<QString>());

    // One at a time, each applied to the list of that moment: a link stopped meanwhile stays gone.
    for (const Row &row : std::as_const(rows)) {
        const ShareInfo::Status status = co_await whileAlive(self, fetchStatus(row.record));
        setRowStatus(row.id(), status);
    }
    update(m_loading, false);
}

void SharesModel::setRowStatus(const QString &id, const ShareInfo::Status &status)
{
    const auto row =
        std::find_if(m_rows.begin(), m_rows.end(), [&](const Row &candidate) { return candidate.id() == id; });
    if (row == m_rows.end())
        return;
    row->status = status;
    emit changed();
}

QCoro::Task<ShareInfo::Status> SharesModel::fetchStatus(ShareRecord record)
{
    if (record.isExpired(m_now()))
        co_return ShareInfo::Status{ShareInfo::Status::ended, std::nullopt};
    co_return co_await ShareInfo::fetch(std::move(record), m_send);
}

QCoro::Task<> SharesModel::stop(ShareRecord record)
{
    const QPointer<SharesModel> self(this);
    try {
        const ShareContext context = co_await whileAlive(self, m_context());
        co_await whileAlive(self, ShareCreator::stop(record.id, context.storage));
        co_await whileAlive(self, ShareRecords(context.rc, m_metaFs).remove(record.id));
    } catch (const OwnerGone &) {
        co_return;
    }
    if (m_rows.removeIf([&](const Row &row) { return row.id() == record.id; }) > 0)
        emit changed();
    if (m_createState.kind == CreateState::done && m_createState.record && m_createState.record->id == record.id) {
        setCreateState(CreateState{});
        update(m_picked, QStringList());
    }
}

QCoro::Task<> SharesModel::updateOutdated()
{
    const QPointer<SharesModel> self(this);
    bool outdated = false;
    if (m_worker) {
        std::optional<QString> version;
        try {
            version = ShareWorkerDeploy::version(co_await whileAlive(self, runInPool(m_modules)));
        } catch (const OwnerGone &) {
            throw;
        } catch (const std::exception &error) {
            logger.error("The link page's modules could not be read: %{public}s", error.what());
        }
        // The record may have changed while the modules were read.
        outdated = version && m_worker && m_worker->isOutdated(*version, m_appBuild);
    }
    update(m_workerOutdated, outdated);
}

QCoro::Task<> SharesModel::setUpWithKeptKey(ShareContext context)
{
    if (!context.cloudflareKey)
        co_return;
    if (m_worker && !m_workerOutdated)
        co_return;
    co_await setUp(*context.cloudflareKey);
}

QCoro::Task<> SharesModel::setUpWorker(QString token)
{
    try {
        co_await setUp(std::move(token));
    } catch (const OwnerGone &) {
        // The model is gone: there is nothing left to update.
    }
}

QCoro::Task<> SharesModel::setUp(QString token)
{
    if (m_settingUp)
        co_return;
    update(m_settingUp, true);
    update(m_setupMessage, std::optional<QString>());
    co_await deployAndRecord(std::move(token));
    update(m_settingUp, false);
}

QCoro::Task<> SharesModel::deployAndRecord(QString token)
{
    const QPointer<SharesModel> self(this);
    std::optional<QString> failure;
    std::optional<ShareContext> context;
    try {
        context = co_await whileAlive(self, m_context());
        const std::optional<ShareWorkerConfig> existing =
            co_await whileAlive(self, ShareWorkerConfig::load(context->rc, m_metaFs));
        if (existing && existing->appBuild && m_appBuild < *existing->appBuild)
            throw AppModelError(newerBuildText);
        const QList<ShareWorkerDeploy::Module> modules = co_await whileAlive(self, runInPool(m_modules));
        const QUrl url = co_await whileAlive(
            self, ShareWorkerDeploy::deploy(token, context->endpoint, context->bucket, modules, m_send));
        // Deployed but not recorded when this fails: the next set-up deploys again.
        const ShareWorkerConfig record{url, ShareWorkerDeploy::version(modules), m_appBuild, m_now()};
        co_await whileAlive(self, record.save(context->rc, m_metaFs));
        update(m_worker, std::optional(record));
        update(m_workerChecked, true);
        update(m_workerLoadError, std::optional<QString>());
        update(m_workerOutdated, false);
    } catch (const OwnerGone &) {
        throw;
    } catch (...) {
        failure = message(std::current_exception());
    }
    if (failure) {
        update(m_setupMessage, failure);
        co_return;
    }

    const QString trimmed = token.trimmed();
    if (context->cloudflareKey == trimmed)
        co_return;
    try {
        co_await whileAlive(self, m_keepKey(trimmed));
    } catch (const OwnerGone &) {
        throw;
    } catch (...) {
        failure = message(std::current_exception()); // the link page stays set up
    }
    if (failure)
        update(m_setupMessage, failure);
}

QCoro::Task<> SharesModel::loadWorker()
{
    try {
        co_await runLoadWorker();
    } catch (const OwnerGone &) {
        // The model is gone: there is nothing left to update.
    }
}

QCoro::Task<> SharesModel::runLoadWorker()
{
    const std::optional<Found> found = co_await lookUp(&SharesModel::m_workerLoadError);
    if (!found)
        co_return;
    update(m_workerLoadError, std::optional<QString>());
    co_await adoptWorker(found->context, found->worker);
}

QCoro::Task<std::optional<SharesModel::Found>> SharesModel::lookUp(std::optional<QString> SharesModel::*errorField)
{
    const QPointer<SharesModel> self(this);
    std::optional<QString> failure;
    std::optional<Found> found;
    try {
        const ShareContext context = co_await whileAlive(self, m_context());
        found = Found{context, co_await whileAlive(self, ShareWorkerConfig::load(context.rc, m_metaFs))};
    } catch (const OwnerGone &) {
        throw;
    } catch (...) {
        failure = message(std::current_exception());
    }
    if (failure)
        update(this->*errorField, failure);
    co_return found;
}

QCoro::Task<> SharesModel::adoptWorker(ShareContext context, std::optional<ShareWorkerConfig> worker)
{
    update(m_worker, worker);
    co_await updateOutdated();
    co_await setUpWithKeptKey(std::move(context));
    update(m_workerChecked, true);
}

} // namespace DriveCore
