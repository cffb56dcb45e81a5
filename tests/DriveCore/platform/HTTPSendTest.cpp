#include "DriveCore/platform/HTTPSend.h"

#include "support/LoopbackHTTPServer.h"
#include "support/TestSupport.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

using namespace DriveCore;
using TestSupport::await;
using TestSupport::LoopbackHTTPServer;

namespace {

HTTPRequest requestFor(const QUrl &url)
{
    HTTPRequest request;
    request.request.setUrl(url);
    return request;
}

TEST(HTTPSendTest, EveryHTTPAnswerComesBackWithItsBodyAndStatus)
{
    for (const int status : {200, 204, 401, 403, 404, 500}) {
        SCOPED_TRACE(status);
        const QByteArray body = status == 204 ? QByteArray() : "{\"status\":" + QByteArray::number(status) + "}";
        LoopbackHTTPServer server([&](const auto &) { return LoopbackHTTPServer::Answer{status, body}; });
        const HTTPResponse response = await(liveHTTPSend(requestFor(server.url(QStringLiteral("/x")))));
        EXPECT_EQ(response.status, status);
        EXPECT_EQ(response.body, body);
    }
}

TEST(HTTPSendTest, SendsMethodHeadersAndBody)
{
    LoopbackHTTPServer server([](const auto &) { return LoopbackHTTPServer::Answer{}; });
    HTTPRequest request = requestFor(server.url(QStringLiteral("/upload?part=1")));
    request.method = "PUT";
    request.body = "payload";
    request.request.setRawHeader("Authorization", "Bearer abc");
    await(liveHTTPSend(request));

    ASSERT_EQ(server.requests().size(), 1u);
    const LoopbackHTTPServer::Request &seen = server.requests().front();
    EXPECT_EQ(seen.method, "PUT");
    EXPECT_EQ(seen.path, "/upload?part=1");
    EXPECT_EQ(seen.headers.value("authorization"), "Bearer abc");
    EXPECT_EQ(seen.body, "payload");
}

TEST(HTTPSendTest, AnswerThatIsNotHTTPHasStatusZero)
{
    const HTTPResponse response = await(liveHTTPSend(requestFor(QUrl(QStringLiteral("data:text/plain,hello")))));
    EXPECT_EQ(response.status, 0);
    EXPECT_EQ(response.body, "hello");
}

TEST(HTTPSendTest, TransportFailuresAreThrown)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort()));
    closed.close();
    try {
        await(liveHTTPSend(requestFor(url)));
        FAIL() << "no error";
    } catch (const HTTPTransportError &error) {
        EXPECT_EQ(error.code, QNetworkReply::ConnectionRefusedError);
    }

    // A server that never answers: the request's time-out ends it.
    LoopbackHTTPServer silent([](const auto &) { return std::nullopt; });
    HTTPRequest request = requestFor(silent.url());
    request.request.setTransferTimeout(100);
    try {
        await(liveHTTPSend(request));
        FAIL() << "no error";
    } catch (const HTTPTransportError &error) {
        EXPECT_EQ(error.code, QNetworkReply::TimeoutError);
        EXPECT_EQ(error.description, QStringLiteral("The request timed out."));
    }
}

TEST(HTTPSendTest, CancellingAbortsTheRequest)
{
    LoopbackHTTPServer silent([](const auto &) { return std::nullopt; });
    CancelSource cancel;
    QCoro::Task<HTTPResponse> task = liveHTTPSend(requestFor(silent.url()), cancel.get_token());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !silent.requests().empty(); }));
    cancel.request_stop();
    EXPECT_THROW(await(std::move(task)), CancelledError);
}

// Answers the first request with a head that promises 100 bytes, then a part of them.
class TruncatingServer : public QTcpServer {
public:
    explicit TruncatingServer(bool thenClose) : m_thenClose(thenClose)
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                socket->readAll();
                socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 100\r\n\r\n{\"par");
                socket->flush();
                if (m_thenClose)
                    socket->disconnectFromHost();
            });
        });
        listen(QHostAddress::LocalHost);
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(serverPort())); }

private:
    bool m_thenClose;
};

TEST(HTTPSendTest, AnAnswerCutShortIsATransportFailure)
{
    for (const bool close : {true, false}) {
        SCOPED_TRACE(close ? "connection closed" : "server silent");
        TruncatingServer server(close);
        HTTPRequest request = requestFor(server.url());
        request.request.setTransferTimeout(300);
        try {
            const HTTPResponse response = await(liveHTTPSend(request));
            ADD_FAILURE() << "answered " << response.status << " " << response.body.toStdString();
        } catch (const HTTPTransportError &error) {
            EXPECT_EQ(error.code, close ? QNetworkReply::RemoteHostClosedError : QNetworkReply::TimeoutError);
        }
    }
}

} // namespace
