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

QString httpReasonPhrase(int status)
{
    switch (status) {
    case 0:
        return QStringLiteral("No Response");
    case 100:
        return QStringLiteral("Continue");
    case 101:
        return QStringLiteral("Switching Protocols");
    case 300:
        return QStringLiteral("Multiple Choices");
    case 301:
        return QStringLiteral("Moved Permanently");
    case 302:
        return QStringLiteral("Found");
    case 303:
        return QStringLiteral("See Other");
    case 304:
        return QStringLiteral("Not Modified");
    case 307:
        return QStringLiteral("Temporary Redirect");
    case 308:
        return QStringLiteral("Permanent Redirect");
    case 400:
        return QStringLiteral("Bad Request");
    case 401:
        return QStringLiteral("Unauthorized");
    case 402:
        return QStringLiteral("Payment Required");
    case 403:
        return QStringLiteral("Forbidden");
    case 404:
        return QStringLiteral("Not Found");
    case 405:
        return QStringLiteral("Method Not Allowed");
    case 406:
        return QStringLiteral("Not Acceptable");
    case 407:
        return QStringLiteral("Proxy Authentication Required");
    case 408:
        return QStringLiteral("Request Timeout");
    case 409:
        return QStringLiteral("Conflict");
    case 410:
        return QStringLiteral("Gone");
    case 411:
        return QStringLiteral("Length Required");
    case 412:
        return QStringLiteral("Precondition Failed");
    case 413:
        return QStringLiteral("Content Too Large");
    case 414:
        return QStringLiteral("URI Too Long");
    case 415:
        return QStringLiteral("Unsupported Media Type");
    case 416:
        return QStringLiteral("Range Not Satisfiable");
    case 417:
        return QStringLiteral("Expectation Failed");
    case 421:
        return QStringLiteral("Misdirected Request");
    case 422:
        return QStringLiteral("Unprocessable Content");
    case 423:
        return QStringLiteral("Locked");
    case 425:
        return QStringLiteral("Too Early");
    case 426:
        return QStringLiteral("Upgrade Required");
    case 428:
        return QStringLiteral("Precondition Required");
    case 429:
        return QStringLiteral("Too Many Requests");
    case 431:
        return QStringLiteral("Request Header Fields Too Large");
    case 451:
        return QStringLiteral("Unavailable For Legal Reasons");
    case 500:
        return QStringLiteral("Internal Server Error");
    case 501:
        return QStringLiteral("Not Implemented");
    case 502:
        return QStringLiteral("Bad Gateway");
    case 503:
        return QStringLiteral("Service Unavailable");
    case 504:
        return QStringLiteral("Gateway Timeout");
    case 505:
        return QStringLiteral("HTTP Version Not Supported");
    case 507:
        return QStringLiteral("Insufficient Storage");
    case 511:
        return QStringLiteral("Network Authentication Required");
    }
    if (status >= 100 && status < 200)
        return QStringLiteral("Informational");
    if (status >= 200 && status < 300)
        return QStringLiteral("Success");
    if (status >= 300 && status < 400)
        return QStringLiteral("Redirection");
    if (status >= 400 && status < 500)
        return QStringLiteral("Client Error");
    if (status >= 500 && status < 600)
        return QStringLiteral("Server Error");
    return QStringLiteral("Unknown Status");
}

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
