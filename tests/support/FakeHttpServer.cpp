#include "support/FakeHttpServer.h"

#include <QPointer>
#include <QTcpSocket>

namespace TestSupport {

namespace {

QByteArray statusText(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

// One client connection: reads requests one after the other and writes their responses.
class Connection : public QObject {
public:
    Connection(QTcpSocket *socket, const FakeHttpServer::Handler &handler)
        : QObject(socket), m_socket(socket), m_handler(handler)
    {
        connect(socket, &QTcpSocket::readyRead, this, &Connection::readRequests);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

private:
    void readRequests()
    {
        m_buffer += m_socket->readAll();
        while (!m_busy) {
            const qsizetype headEnd = m_buffer.indexOf("\r\n\r\n");
            if (headEnd < 0)
                return;
            FakeHttpRequest request;
            const QList<QByteArray> lines = m_buffer.left(headEnd).split('\n');
            const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
            request.method = requestLine.value(0);
            request.path = requestLine.value(1);
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines[i].indexOf(':');
                if (colon > 0)
                    request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
            }
            const qsizetype length = request.header("content-length").toLongLong();
            if (m_buffer.size() < headEnd + 4 + length)
                return;
            request.body = m_buffer.mid(headEnd + 4, length);
            m_buffer.remove(0, headEnd + 4 + length);
            m_busy = true;
            const bool close = request.header("connection").toLower() == "close";
            QPointer<Connection> self(this);
            m_handler(request, [self, close](const FakeHttpResponse &response) {
                if (self)
                    self->write(response, close);
            });
        }
    }

    void write(const FakeHttpResponse &response, bool close)
    {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + statusText(response.status) + "\r\n";
        head += "Content-Type: " + response.contentType + "\r\n";
        head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
        for (const auto &[name, value] : response.headers)
            head += name + ": " + value + "\r\n";
        head += close ? "Connection: close\r\n\r\n" : "\r\n";
        m_socket->write(head + response.body);
        m_busy = false;
        if (close)
            m_socket->disconnectFromHost();
        else
            readRequests();
    }

    QTcpSocket *m_socket;
    FakeHttpServer::Handler m_handler;
    QByteArray m_buffer;
    bool m_busy = false;
};

} // namespace

FakeHttpServer::FakeHttpServer(Handler handler, QObject *parent) : QObject(parent), m_handler(std::move(handler))
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            ++m_connectionsAccepted;
            new Connection(socket, m_handler);
        }
    });
}

bool FakeHttpServer::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

} // namespace TestSupport
