#include "DriveCore/platform/HTTPSend.h"

#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QThread>

#include <memory>

namespace DriveCore {

namespace {

// One manager per thread, so connections are reused. The main thread's goes with the
// application object; other threads' go with the thread.
QNetworkAccessManager &sharedNetworkAccess()
{
    thread_local std::unique_ptr<QNetworkAccessManager> owned;
    thread_local QPointer<QNetworkAccessManager> manager;
    if (!manager) {
        QCoreApplication *app = QCoreApplication::instance();
        if (app && QThread::currentThread() == app->thread()) {
            manager = new QNetworkAccessManager(app);
        } else {
            owned = std::make_unique<QNetworkAccessManager>();
            manager = owned.get();
        }
    }
    return *manager;
}

// Plain GETs go through get(), which also serves answers that are not HTTP (file:, data:).
QNetworkReply *start(QNetworkAccessManager &manager, const HTTPRequest &request)
{
    if (request.method == "GET" && request.body.isEmpty())
        return manager.get(request.request);
    return manager.sendCustomRequest(request.request, request.method, request.body);
}

// Qt keeps the status of a head that arrived when the connection then failed: a body cut short
// by a closed connection, a stall or a broken encoding is no answer. Errors that Qt derives
// from the status itself (401, 404, 500 ...) are answers.
bool isTransportFailure(QNetworkReply::NetworkError error)
{
    return (error != QNetworkReply::NoError && error < QNetworkReply::ProxyConnectionRefusedError)
        || error == QNetworkReply::ProtocolFailure;
}

struct DeleteLater {
    void operator()(QNetworkReply *reply) const { reply->deleteLater(); }
};

} // namespace

QCoro::Task<HTTPResponse> liveHTTPSend(HTTPRequest request, CancelToken token)
{
    return sendHTTP(sharedNetworkAccess(), std::move(request), std::move(token));
}

QCoro::Task<HTTPResponse> sendHTTP(QNetworkAccessManager &manager, HTTPRequest request, CancelToken token)
{
    checkCancelled(token);
    const std::unique_ptr<QNetworkReply, DeleteLater> reply(start(manager, request));
    {
        QNetworkReply *raw = reply.get();
        const CancelHook abortOnCancel(token, raw, [raw] { raw->abort(); });
        co_await raw;
    }
    checkCancelled(token);
    const QNetworkReply::NetworkError error = reply->error();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && !isTransportFailure(error))
        co_return HTTPResponse{reply->readAll(), status.toInt()};
    if (error == QNetworkReply::NoError)
        co_return HTTPResponse{reply->readAll(), 0};
    // Qt reports its transfer time-out as a cancellation; we did not cancel, so it timed out.
    if (error == QNetworkReply::OperationCanceledError)
        throw HTTPTransportError(QNetworkReply::TimeoutError, QStringLiteral("The request timed out."));
    throw HTTPTransportError(error, reply->errorString());
}

} // namespace DriveCore
