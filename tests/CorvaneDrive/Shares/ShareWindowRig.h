#pragma once

#include "DriveCore/platform/HTTPSend.h"
#include "DriveCore/shares/SharesModel.h"
#include "DriveCore/shares/ShareStorage.h"
#include "ShareEngine.h"
#include "support/LoopbackHTTPServer.h"

#include <QApplication>
#include <QByteArray>
#include <QPushButton>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <optional>

class ShareFilesPanel;

namespace TestSupport {

// Cloudflare's API and the deployed link page's status route on loopback: the share model's HTTP
// sender has every request for api.cloudflare.com or a workers.dev host sent here instead, path
// and all. The API agrees to everything and names the account "alice"; a link's status is
// `statusBody`.
class CloudflareStandIn {
public:
    CloudflareStandIn();

    DriveCore::HTTPSend send();
    // Requests to the API so far (not the status route).
    qsizetype apiRequests() const;
    const std::vector<LoopbackHTTPServer::Request> &requests() const { return m_server.requests(); }

    QByteArray statusBody = R"({"downloads":0,"expiresAt":null,"fileCount":2,"totalBytes":12,"maxDownloads":4})";

private:
    LoopbackHTTPServer m_server;
};

// The share storage with a pause of the test's: an upload or put of an object named `holdName`
// waits while `held` is set, with `waiting` set meanwhile.
class HeldStorage : public DriveCore::ShareStorage {
public:
    explicit HeldStorage(std::shared_ptr<const DriveCore::ShareStorage> inner) : m_inner(std::move(inner)) {}

    QCoro::Task<> upload(QString id, QString name, qint64 size, Produce produce,
                         DriveCore::CancelToken token = {}) const override;
    QCoro::Task<> put(QString id, QString name, QByteArray data, DriveCore::CancelToken token = {}) const override;
    QCoro::Task<> deleteObject(QString id, QString name, DriveCore::CancelToken token = {}) const override;
    QCoro::Task<> deleteAll(QString id, DriveCore::CancelToken token = {}) const override;

    QString holdName;
    mutable bool held = false;
    mutable bool waiting = false;

private:
    QCoro::Task<> pause(const QString &name, DriveCore::CancelToken token) const;

    std::shared_ptr<const DriveCore::ShareStorage> m_inner;
};

// A share model as the application makes it, over the engine's bucket and metadata, the link page
// modules of the source tree, the Cloudflare stand-in and a mount folder of its own. What the app
// model would answer (the context, the blocked reason, the kept token) is the rig's.
class ShareWindowRig {
public:
    static inline const QString endpoint =
        QStringLiteral("https://0123456789abcdef0123456789abcdef.r2.cloudflarestorage.com");
    static inline const QString notConnectedText =
        QStringLiteral("Your drive isn't connected right now. Try again when Ovra shows your drive.");
    static constexpr qint64 appBuild = 200;

    ShareWindowRig(ShareEngine &engine, QString metaFs);

    std::unique_ptr<DriveCore::SharesModel> makeModel();
    // A file below the mount folder, made with its parents; returns its path.
    QString file(const QString &relative, const QByteArray &data);

    ShareEngine &engine;
    const QString metaFs;
    CloudflareStandIn cloudflare;
    QTemporaryDir mount;
    QString mountPath = mount.path(); // the drive's mount folder: picked files must lie below it
    std::shared_ptr<HeldStorage> storage;
    bool notConnected = false;
    bool holdContext = false; // look-ups wait while it is set
    std::optional<QString> blockedReason;
    std::optional<QString> keptKey;
    QStringList keptTokens;
    QDateTime now = QDateTime::fromSecsSinceEpoch(1'767'366'245, Qt::UTC);
};

// Widgets as a person finds them.
QPushButton *button(QWidget *in, const QString &text);
// The visible top-level widget of that type, once there is one (up to `limit`).
template<typename T>
T *topLevel(std::chrono::milliseconds limit = std::chrono::seconds(30));
QWidget *visibleTopLevel(const QMetaObject &type, std::chrono::milliseconds limit);

template<typename T>
T *topLevel(std::chrono::milliseconds limit)
{
    return qobject_cast<T *>(visibleTopLevel(T::staticMetaObject, limit));
}

// Picks the named entries of the panel's folder with the mouse (control held for the others),
// then presses "Share".
void chooseInPanel(ShareFilesPanel &panel, const QStringList &names);

} // namespace TestSupport
