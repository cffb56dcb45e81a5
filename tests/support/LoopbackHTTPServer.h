#pragma once

#include "support/FakeHttpServer.h"

#include <QUrl>

#include <functional>
#include <optional>
#include <vector>

namespace TestSupport {

// The loopback HTTP server for tests that answer at once: it records every request and hands
// it to a handler, whose answer it writes. Lives on the thread that made it.
class LoopbackHTTPServer : public QObject {
public:
    using Request = FakeHttpRequest;
    using Answer = FakeHttpResponse;
    // No answer keeps the connection open and silent.
    using Handler = std::function<std::optional<Answer>(const Request &)>;

    explicit LoopbackHTTPServer(Handler handler);

    // http://127.0.0.1:<port> followed by `path`.
    QUrl url(const QString &path = QStringLiteral("/")) const;
    const std::vector<Request> &requests() const { return m_requests; }

private:
    FakeHttpServer m_server;
    std::vector<Request> m_requests;
};

} // namespace TestSupport
