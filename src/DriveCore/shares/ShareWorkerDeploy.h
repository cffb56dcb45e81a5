#pragma once

#include "DriveCore/platform/HTTPSend.h"
#include "DriveCore/support/Cancellation.h"

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QString>
#include <QUrl>

#include <array>
#include <stdexcept>

// The link page's deployment into the user's own Cloudflare account: the three modules of
// share-worker/ uploaded as one Workers script bound to the drive's bucket, given its daily
// schedule and its address under the account's workers.dev name. Request building and answer
// reading around one injected HTTP sender; nothing is kept between calls.
namespace DriveCore::ShareWorkerDeploy {

// Cloudflare's API v4; tests point the deployment at their own server.
inline constexpr const char *apiBase = "https://api.cloudflare.com/client/v4/";
// Where a script's route lives: <script>.<account's name>.workers.dev
inline constexpr const char *workersDomain = "workers.dev";

inline constexpr const char *compatibilityDate = "2026-10-01";
// Minute 17 of hour 3 every day, in UTC: the link page's clean-up of ended links.
inline constexpr const char *cron = "17 3 * * *";
// The upload's order and the version's; "worker.js" is the main module.
inline constexpr std::array<const char *, 3> moduleNames{"worker.js", "format.js", "assets.js"};

// User texts of a refused deployment.
inline constexpr const char *permissionText =
    "That key can't set up Workers. Make a new one with the “Edit Cloudflare Workers” template, add “Workers R2 "
    "Storage · Edit”, and paste it again.";
inline constexpr const char *refusedPrefix = "Cloudflare said no: ";
inline constexpr const char *noSubdomainText =
    "Your Cloudflare account has no workers.dev name yet. In Cloudflare, open Workers & Pages once and pick a free "
    "name, then press Set Up again.";

// One module of the link page.
struct Module {
    QString name; // one of moduleNames
    QString source;

    bool operator==(const Module &) const = default;
};

// No text of its own: the share window shows its generic wording.
class Failure : public std::runtime_error {
public:
    enum Case {
        noAccountID, // the endpoint is not a Cloudflare R2 account endpoint
        noWorkersSubdomain, // the account has no usable workers.dev name
    };

    explicit Failure(Case value);

    bool operator==(Case other) const { return value == other; }

    Case value;
};

// CloudflareKey::accountID; throws Failure::noAccountID where that gives none.
QString accountID(const QString &endpoint);

// "ovra-share-" and the bucket name in lower case with every other character than an ASCII
// letter or digit made "-", trimmed of "-"; a stem longer than 43 characters is cut to 30 and
// followed by "-" and 12 hex digits of the bucket name's SHA-256, so names stay apart.
QString scriptName(const QString &bucket);

// The four requests, each with "Authorization: Bearer <token>" and a 30-second limit, below
// `api` + "accounts/<account id>".
HTTPRequest accountSubdomainRequest(const QString &accountID, const QString &token,
                                    const QUrl &api = QUrl(QLatin1String(apiBase)));
// PUT of the script as a multipart form: the metadata (main module, compatibility date, the
// bucket bound as "BUCKET"), then the modules in the given order.
HTTPRequest uploadRequest(const QString &accountID, const QString &token, const QString &bucket,
                          const QList<Module> &modules, const QString &boundary,
                          const QUrl &api = QUrl(QLatin1String(apiBase)));
HTTPRequest scheduleRequest(const QString &accountID, const QString &token, const QString &bucket,
                            const QUrl &api = QUrl(QLatin1String(apiBase)));
HTTPRequest enableSubdomainRequest(const QString &accountID, const QString &token, const QString &bucket,
                                   const QUrl &api = QUrl(QLatin1String(apiBase)));

// https://<script name>.<subdomain>.workers.dev from the account-subdomain answer. Throws
// JsonDecodingError when the answer does not read, Failure::noWorkersSubdomain when it gives no
// usable name.
QUrl workerURL(const QByteArray &subdomainResponse, const QString &bucket);

// Passes a 2xx answer that does not say "success": false (a body that is not Cloudflare's JSON
// passes); throws AppModelError with the permission text or "Cloudflare said no: " and the detail.
void check(const QByteArray &body, int status);

// Deploys the link page and gives its address. The token is trimmed of white space first.
// Throws Failure::noAccountID, AppModelError (the no-subdomain text, the permission text or
// Cloudflare's refusal), or what `send` throws (transport errors, CancelledError).
QCoro::Task<QUrl> deploy(QString token, QString endpoint, QString bucket, QList<Module> modules, HTTPSend send,
                         QUrl api = QUrl(QLatin1String(apiBase)), CancelToken cancel = {});

// Reads the modules of moduleNames from `folder`, in that order. Blocking: run it in the pool.
// Throws std::system_error for a file that is missing, unreadable or not UTF-8.
QList<Module> modules(const QString &folder);

// 16 lower-case hex digits of the SHA-256 over each module's name, a zero byte and its source,
// in the list's order: changes with any byte, name or order.
QString version(const QList<Module> &modules);

} // namespace DriveCore::ShareWorkerDeploy
