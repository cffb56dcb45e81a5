#pragma once

#include <QByteArray>
#include <QMap>
#include <QTcpServer>
#include <QUrl>

#include <functional>
#include <optional>
#include <vector>

namespace TestSupport {

// A small HTTP/1.1 server on 127.0.0.1 for tests: it hands each request to a handler and
// writes its answer, then closes the connection. Lives on the thread that made it.
class LoopbackHTTPServer : public QObject {
public:
    struct Request {
        QByteArray method;
        QByteArray path; // with the query
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };
    struct Answer {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/json";
    };
    // No answer keeps the connection open and silent.
    using Handler = std::function<std::optional<Answer>(const Request &)>;

    explicit LoopbackHTTPServer(Handler handler);

    // http://127.0.0.1:<port> followed by `path`.
    QUrl url(const QString &path = QStringLiteral("/")) const;
    const std::vector<Request> &requests() const { return m_requests; }

private:
    void accept();
    void read(QTcpSocket *socket);

    Handler m_handler;
    QTcpServer m_server;
    std::vector<Request> m_requests;
};

} // namespace TestSupport
