#pragma once

#include "DriveCore/support/Cancellation.h"

#include <QByteArray>
#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QString>

#include <functional>
#include <stdexcept>

namespace DriveCore {

struct HTTPRequest {
    QNetworkRequest request; // URL, headers, time-out
    QByteArray method = "GET";
    QByteArray body;
};

struct HTTPResponse {
    QByteArray body;
    int status = 0; // 0 when the answer was not HTTP
};

// The request got no HTTP answer: no connection, a TLS failure, a time-out.
class HTTPTransportError : public std::runtime_error {
public:
    HTTPTransportError(QNetworkReply::NetworkError code, const QString &description)
        : std::runtime_error(description.toStdString()), code(code), description(description)
    {
    }

    QNetworkReply::NetworkError code;
    QString description;
};

// Sends one request and gives the answer, whatever its status. Throws HTTPTransportError, or
// CancelledError once the token is cancelled (the request is aborted).
using HTTPSend = std::function<QCoro::Task<HTTPResponse>(HTTPRequest request, CancelToken token)>;

// The fixed English reason phrase of an HTTP status ("Internal Server Error"), with a phrase for
// its class when the status has none of its own; "No Response" for 0.
QString httpReasonPhrase(int status);

// The production sender, on this thread's shared QNetworkAccessManager.
QCoro::Task<HTTPResponse> liveHTTPSend(HTTPRequest request, CancelToken token = {});

// The same through a manager of the caller's, for clients that set their own proxy and
// redirect rules.
QCoro::Task<HTTPResponse> sendHTTP(QNetworkAccessManager &manager, HTTPRequest request, CancelToken token = {});

} // namespace DriveCore
