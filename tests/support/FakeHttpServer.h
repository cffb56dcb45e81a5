#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QTcpServer>

#include <functional>

namespace TestSupport {

struct FakeHttpRequest {
    QByteArray method;
    QByteArray path;
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;

    QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
};

struct FakeHttpResponse {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QList<QPair<QByteArray, QByteArray>> headers;
};

// A minimal HTTP/1.1 server on the loopback address for test doubles: keep-alive connections,
// bodies with Content-Length, one request at a time per connection. The handler answers
// through `respond`, at once, later, or never (a hung request).
class FakeHttpServer : public QObject {
    Q_OBJECT
public:
    using Respond = std::function<void(const FakeHttpResponse &)>;
    using Handler = std::function<void(const FakeHttpRequest &, Respond)>;

    explicit FakeHttpServer(Handler handler, QObject *parent = nullptr);

    bool listen(quint16 port = 0);
    quint16 port() const { return m_server.serverPort(); }
    QString errorString() const { return m_server.errorString(); }
    // TCP connections accepted so far.
    int connectionsAccepted() const { return m_connectionsAccepted; }

private:
    QTcpServer m_server;
    Handler m_handler;
    int m_connectionsAccepted = 0;
};

} // namespace TestSupport
