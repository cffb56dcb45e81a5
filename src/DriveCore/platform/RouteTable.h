#pragma once

#include <QByteArray>

#include <vector>

namespace DriveCore {

// One way out of a route of the kernel's routing tables: a route with several next hops is
// read as one of these for each.
struct Route {
    int family = 0; // AF_INET or AF_INET6
    int destinationLength = 0; // 0 for a default route
    int type = 0; // RTN_UNICAST, RTN_UNREACHABLE, ...
    unsigned table = 0;
    int device = 0; // the interface index; 0 when the route names none
    bool linkDown = false; // its device lost its carrier, or the next hop is dead

    bool operator==(const Route &) const = default;
};

// The routing tables of this process's network namespace, from the kernel's route dump over
// netlink (/proc/net/route cannot tell a route whose device lost its carrier). Safe from any
// thread.
namespace RouteTable {

// The loopback device's interface index, the same in every network namespace.
inline constexpr int loopbackDevice = 1;

// The IPv4 and IPv6 routes in the kernel's order; empty when they cannot be read.
std::vector<Route> read();

// Decodes the messages of a route dump. Messages other than IPv4 and IPv6 routes, and those
// that do not have the kernel's shape, are skipped.
std::vector<Route> parse(const QByteArray &messages);

} // namespace RouteTable

} // namespace DriveCore
