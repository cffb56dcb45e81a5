#include "DriveCore/platform/RouteTable.h"

#include "DriveCore/platform/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <optional>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace DriveCore {

namespace {

template<typename T>
std::optional<T> readAt(const QByteArray &bytes, qsizetype offset)
{
    if (offset < 0 || offset > bytes.size() || bytes.size() - offset < qsizetype(sizeof(T)))
        return std::nullopt;
    T value;
    std::memcpy(&value, bytes.constData() + offset, sizeof(T));
    return value;
}

qsizetype aligned(qsizetype length, qsizetype alignment)
{
    return (length + alignment - 1) / alignment * alignment;
}

// Calls `each(type, payload)` for every attribute in `bytes`; stops at the first malformed one.
template<typename Each>
void forEachAttribute(const QByteArray &bytes, Each each)
{
    qsizetype offset = 0;
    while (const auto attribute = readAt<rtattr>(bytes, offset)) {
        const qsizetype length = attribute->rta_len;
        if (length < qsizetype(sizeof(rtattr)) || length > bytes.size() - offset)
            return;
        each(attribute->rta_type, bytes.mid(offset + RTA_LENGTH(0), length - RTA_LENGTH(0)));
        offset += aligned(length, RTA_ALIGNTO);
    }
}

void readRoute(const QByteArray &body, std::vector<Route> &routes)
{
    const auto message = readAt<rtmsg>(body, 0);
    if (!message || (message->rtm_family != AF_INET && message->rtm_family != AF_INET6))
        return;
    Route route{
        .family = message->rtm_family,
        .destinationLength = message->rtm_dst_len,
        .type = message->rtm_type,
        .table = message->rtm_table,
        .linkDown = (message->rtm_flags & (RTNH_F_LINKDOWN | RTNH_F_DEAD)) != 0,
    };
    QByteArray multipath;
    forEachAttribute(body.mid(NLMSG_ALIGN(sizeof(rtmsg))), [&](unsigned short type, const QByteArray &payload) {
        if (type == RTA_TABLE) {
            if (const auto table = readAt<quint32>(payload, 0))
                route.table = *table;
        } else if (type == RTA_OIF) {
            if (const auto device = readAt<qint32>(payload, 0))
                route.device = *device;
        } else if (type == RTA_MULTIPATH) {
            multipath = payload;
        }
    });
    if (multipath.isNull()) {
        routes.push_back(route);
        return;
    }
    qsizetype offset = 0;
    while (const auto hop = readAt<rtnexthop>(multipath, offset)) {
        const qsizetype length = hop->rtnh_len;
        if (length < qsizetype(sizeof(rtnexthop)) || length > multipath.size() - offset)
            return;
        Route one = route;
        one.device = hop->rtnh_ifindex;
        one.linkDown = (hop->rtnh_flags & (RTNH_F_LINKDOWN | RTNH_F_DEAD)) != 0;
        routes.push_back(one);
        offset += aligned(length, RTNH_ALIGNTO);
    }
}

} // namespace

std::vector<Route> RouteTable::parse(const QByteArray &messages)
{
    std::vector<Route> routes;
    qsizetype offset = 0;
    while (const auto header = readAt<nlmsghdr>(messages, offset)) {
        const qsizetype length = header->nlmsg_len;
        if (length < qsizetype(sizeof(nlmsghdr)) || length > messages.size() - offset)
            break;
        if (header->nlmsg_type == RTM_NEWROUTE)
            readRoute(messages.mid(offset + NLMSG_HDRLEN, length - NLMSG_HDRLEN), routes);
        offset += aligned(length, NLMSG_ALIGNTO);
    }
    return routes;
}

std::vector<Route> RouteTable::read()
{
    const UniqueFd socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (socket.get() < 0)
        return {};
    // The kernel answers a dump at once; the limit only guards against a reply that never comes.
    const timeval limit{.tv_sec = 2, .tv_usec = 0};
    ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    struct {
        nlmsghdr header;
        rtmsg message;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.message.rtm_family = AF_UNSPEC;
    if (::send(socket.get(), &request, sizeof request, 0) != qsizetype(sizeof request))
        return {};

    QByteArray dump;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t got = ::recv(socket.get(), buffer.data(), buffer.size(), 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return {};
        const QByteArray part(buffer.data(), got);
        // The dump ends with a "done" message, or with an error in its place.
        qsizetype offset = 0;
        while (const auto header = readAt<nlmsghdr>(part, offset)) {
            if (header->nlmsg_len < sizeof(nlmsghdr))
                break;
            if (header->nlmsg_type == NLMSG_ERROR)
                return {};
            if (header->nlmsg_type == NLMSG_DONE)
                return parse(dump + part);
            offset += aligned(header->nlmsg_len, NLMSG_ALIGNTO);
        }
        dump += part;
    }
}

} // namespace DriveCore
