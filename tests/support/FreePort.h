#pragma once

#include <QTcpServer>

namespace TestSupport {

// A port on the loopback address that was free a moment ago.
inline int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace TestSupport
