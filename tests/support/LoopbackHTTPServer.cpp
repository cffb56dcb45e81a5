#include "support/LoopbackHTTPServer.h"

#include <QTcpSocket>

namespace TestSupport {

LoopbackHTTPServer::LoopbackHTTPServer(Handler handler) : m_handler(std::move(handler))
{
    if (!m_server.listen(QHostAddress::LocalHost))
        qFatal("cannot listen on loopback: %s", qPrintable(m_server.errorString()));
    connect(&m_server, &QTcpServer::newConnection, this, &LoopbackHTTPServer::accept);
}

QUrl LoopbackHTTPServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
}

void LoopbackHTTPServer::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void LoopbackHTTPServer::read(QTcpSocket *socket)
{
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    socket->setProperty("buffer", buffer);
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    Request request;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    const qsizetype length = request.headers.value("content-length", "0").toLongLong();
    if (buffer.size() < headerEnd + 4 + length)
        return;
    request.body = buffer.mid(headerEnd + 4, length);
    socket->setProperty("buffer", QByteArray());
    m_requests.push_back(request);

    const std::optional<Answer> answer = m_handler(request);
    if (!answer)
        return;
    QByteArray out = "HTTP/1.1 " + QByteArray::number(answer->status) + " Answer\r\n";
    out += "Content-Type: " + answer->contentType + "\r\n";
    out += "Content-Length: " + QByteArray::number(answer->body.size()) + "\r\n";
    out += "Connection: close\r\n\r\n";
    out += answer->body;
    socket->write(out);
    socket->disconnectFromHost();
}

} // namespace TestSupport
