#pragma once

#include "DriveCore/platform/HTTPSend.h"
#include "DriveCore/shares/ShareContext.h"
#include "DriveCore/shares/ShareInfo.h"
#include "DriveCore/shares/ShareLinks.h"
#include "DriveCore/shares/ShareWorkerConfig.h"
#include "DriveCore/shares/ShareWorkerDeploy.h"
#include "DriveCore/support/Clock.h"
#include "DriveCore/support/Tasks.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <exception>
#include <functional>
#include <optional>

namespace DriveCore {

// The one model behind the share windows: the files picked for a new link, the link being made
// with its progress, the user's links with their live status, stopping a link, and the link page
// it needs. Main-thread object, observable through changed(), which fires when a field's value
// changes and on every edit of the rows. Every action first asks the app model for a fresh
// ShareContext, so a restarted drive, new keys or a newly kept token count from the next action.
// Actions suspended while the model goes away end without touching it.
class SharesModel : public QObject {
    Q_OBJECT
public:
    static inline const QString outsideDriveText =
        QStringLiteral("Only files in your Ovra drive can be shared. Choose them inside the drive.");
    static inline const QString downloadLimitText = QStringLiteral("Choose a download limit between 1 and 10,000.");
    static inline const QString noLinkPageText = QStringLiteral("Set up share links first (one time).");
    static inline const QString nothingToShareText =
        QStringLiteral("There's nothing to share in what you picked (empty folders and hidden files are left out).");
    static inline const QString mayStillBeLiveText = QStringLiteral(
        "Something went wrong while making the link, and it might still work. Open Shared Links and use Stop "
        "Sharing on it.");
    static inline const QString storagePrefix = QStringLiteral("Couldn't reach your storage: ");
    static inline const QString offlineText = QStringLiteral("You're offline. Try again when you're back online.");
    static inline const QString newerBuildText =
        QStringLiteral("Another computer set up your link page with a newer Ovra. Update Ovra on this computer first.");
    static inline const QString missingModulesText =
        QStringLiteral("This copy of Ovra is missing its link page files. Reinstall Ovra.");
    // For a failure that has no text of its own.
    static inline const QString genericText = QStringLiteral("The operation couldn't be completed.");
    // "Ovra couldn't read “<name>” in your drive (are you online?). Nothing was shared. Try again."
    static QString unreadableText(const QString &name);
    // "“<path>” changed while it was being shared. Wait until it has finished copying, then try again."
    static QString fileChangedText(const QString &path);

    static constexpr qint64 maxDownloadLimit = 10'000;
    static constexpr qint64 chunkSize = 1'048'576;

    // The app model's share context for one action. Throws AppModelError when the drive is not
    // running or the keys can't be read, or what the key store throws.
    using Context = std::function<QCoro::Task<ShareContext>()>;
    // Why new links are refused now; none when they can be made.
    using Blocked = std::function<std::optional<QString>()>;
    // The link page's modules as this application carries them. Reads files: called in the pool.
    using Modules = std::function<QList<ShareWorkerDeploy::Module>()>;
    // Keeps a Cloudflare API token in the key store; throws what the store throws.
    using KeepKey = std::function<QCoro::Task<>(QString token)>;

    // One link of the Shared Links window.
    struct Row {
        ShareRecord record;
        std::optional<ShareInfo::Status> status; // none: not asked yet

        const QString &id() const { return record.id; }
        bool operator==(const Row &) const = default;
    };

    // The new-link window's state.
    struct CreateState {
        enum Kind {
            preparing, // a link is being made: `progress`
            done, // the link just made: `record`
            failed, // `text` says why
            idle,
        };
        Kind kind = idle;
        ShareProgress progress;
        std::optional<ShareRecord> record;
        QString text;

        static CreateState makePreparing(ShareProgress progress) { return {preparing, progress, std::nullopt, {}}; }
        static CreateState makeDone(ShareRecord record) { return {done, {}, std::move(record), {}}; }
        static CreateState makeFailed(QString text) { return {failed, {}, std::nullopt, std::move(text)}; }
        bool operator==(const CreateState &) const = default;
    };

    // What the model works through. In production: the app model's shareContext() and
    // shareBlockedReason, the build number, liveHTTPSend, modulesIn(installedWorkerFolder()),
    // ShareFormat::passwordRounds, the system clock, "drivecrypt:.corvane" and the app model's
    // keepCloudflareKey().
    struct Deps {
        Context context;
        Blocked blocked;
        qint64 appBuild = 0;
        HTTPSend send;
        Modules modules;
        uint32_t passwordRounds = 0;
        Clock now;
        QString metaFs;
        KeepKey keepKey;
    };

    explicit SharesModel(Deps deps, QObject *parent = nullptr);
    ~SharesModel() override;

    // The loader of the link page's modules in `folder`: fails with AppModelError
    // missingModulesText when there is no such folder, and with the file's error when a module
    // can't be read.
    static Modules modulesIn(QString folder);
    // Where the link page's modules are installed beside this program:
    // <prefix>/share/corvane-drive/share-worker for a program in <prefix>/bin.
    static QString installedWorkerFolder();

    const QList<Row> &rows() const { return m_rows; }
    const std::optional<ShareWorkerConfig> &worker() const { return m_worker; }
    bool workerOutdated() const { return m_workerOutdated; }
    // The link page's record has been looked up at least once, or a set-up succeeded.
    bool workerChecked() const { return m_workerChecked; }
    const std::optional<QString> &workerLoadError() const { return m_workerLoadError; }
    bool loading() const { return m_loading; }
    // Shown instead of the list when the last load failed.
    const std::optional<QString> &listMessage() const { return m_listMessage; }
    const CreateState &createState() const { return m_createState; }
    bool settingUp() const { return m_settingUp; }
    const std::optional<QString> &setupMessage() const { return m_setupMessage; }
    // What the next link shares, local paths as picked.
    const QStringList &picked() const { return m_picked; }

    bool isCreating() const { return m_createState.kind == CreateState::preparing; }
    std::optional<QString> createBlockedReason() const { return m_blocked(); }
    QString pickedTitle() const;

    // Takes the picked files and folders for the next link. Each must lie strictly inside the
    // drive's mount folder once symbolic links are resolved; the first that does not fails the
    // call with AppModelError outsideDriveText and nothing changes. While a link is being made
    // nothing changes either. Throws the context's failure.
    QCoro::Task<> pick(QStringList paths);
    // Starts making a link of the picked files, unless one is being made or nothing is picked;
    // returns at once. The outcome shows in createState().
    void create(ShareOptions options);
    // Asks the running creation to stop; it ends idle.
    void cancelCreate();
    // Forgets the picked files and goes back to idle, unless a link is being made.
    void reset();

    // Reloads the link page's record, the links and, one at a time, each link's status. Never
    // fails: a failure shows in listMessage().
    QCoro::Task<> load();
    // Ends a link: its "meta.json", then its objects, then its record; then drops its row.
    // Throws the failure, and then nothing has changed here.
    QCoro::Task<> stop(ShareRecord record);
    // Ended without a request for a link past its expiry; unknown when the request can't be
    // built or sent. Never fails.
    QCoro::Task<ShareInfo::Status> fetchStatus(ShareRecord record);

    // Deploys the link page with the token as typed and records it; keeps the token when it is
    // new. One at a time: a call while one runs does nothing. Never fails: a failure shows in
    // setupMessage().
    QCoro::Task<> setUpWorker(QString token);
    // Looks up the link page's record and sets it up with the kept token when there is none or
    // it is outdated. Never fails: a failure shows in workerLoadError().
    QCoro::Task<> loadWorker();

    // The user text of any failure of the share code.
    static QString message(const std::exception &error);
    static QString message(const std::exception_ptr &error);

signals:
    void changed();

private:
    template<typename T>
    void update(T &field, const T &value)
    {
        if (field == value)
            return;
        field = value;
        emit changed();
    }

    QCoro::Task<> runCreate(ShareOptions options, QStringList picked, quint64 serial, CancelToken token);
    void setCreateState(const CreateState &state) { update(m_createState, state); }
    QCoro::Task<> updateOutdated();
    QCoro::Task<> setUpWithKeptKey(ShareContext context);
    // setUpWorker() that lets OwnerGone through, for callers that go on with the model afterwards.
    QCoro::Task<> setUp(QString token);
    QCoro::Task<> deployAndRecord(QString token);
    QCoro::Task<> runLoadWorker();
    QCoro::Task<> runLoad();
    // The context and the link page's record an action starts from.
    struct Found {
        ShareContext context;
        std::optional<ShareWorkerConfig> worker;
    };
    // None once the failure's text is in `errorField`.
    QCoro::Task<std::optional<Found>> lookUp(std::optional<QString> SharesModel::*errorField);
    // Takes the record just read, checks it against this application's modules and, when it is
    // missing or outdated, sets the link page up with the kept token.
    QCoro::Task<> adoptWorker(ShareContext context, std::optional<ShareWorkerConfig> worker);
    void setRowStatus(const QString &id, const ShareInfo::Status &status);

    QList<Row> m_rows;
    std::optional<ShareWorkerConfig> m_worker;
    bool m_workerOutdated = false;
    bool m_workerChecked = false;
    std::optional<QString> m_workerLoadError;
    bool m_loading = false;
    std::optional<QString> m_listMessage;
    CreateState m_createState;
    bool m_settingUp = false;
    std::optional<QString> m_setupMessage;
    QStringList m_picked;

    Context m_context;
    Blocked m_blocked;
    qint64 m_appBuild;
    HTTPSend m_send;
    Modules m_modules;
    uint32_t m_pwRounds;
    Clock m_now;
    std::optional<TaskHandle<>> m_createTask;
    quint64 m_createSerial = 0; // tells a late progress report of an earlier creation apart
    QString m_metaFs;
    KeepKey m_keepKey;
};

} // namespace DriveCore
