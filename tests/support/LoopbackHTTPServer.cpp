#include "support/LoopbackHTTPServer.h"

namespace TestSupport {

LoopbackHTTPServer::LoopbackHTTPServer(Handler handler)
    : m_server([this, handler = std::move(handler)](const FakeHttpRequest &request, FakeHttpServer::Respond respond) {
          m_requests.push_back(request);
          if (const std::optional<Answer> answer = handler(request))
              respond(*answer);
      })
{
    if (!m_server.listen())
        qFatal("cannot listen on loopback: %s", qPrintable(m_server.errorString()));
}

QUrl LoopbackHTTPServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.port()).arg(path));
}

} // namespace TestSupport
