#pragma once

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

#include "platform/dispatch/RunLoop.h"
#include "platform/reachability/FakeReachabilityProvider.h"
#include "platform/reachability/NetlinkReachabilityProvider.h"
#include "support/reachability/NetlinkAnswer.h"

// Routing answers of a wired machine, bare headers with any claimed length, and joined datagrams.
namespace support::netlinkdumps {

using namespace platform;

inline sockaddr_in ipv4(const char* text)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, text, &address.sin_addr);
    return address;
}

// The answers of a machine whose link 2 is up with 10.0.0.1 on it and a default route through it.
struct Dumps {
    netlink::Bytes links, routes, addresses;
};

inline Dumps wiredMachine()
{
    netlink::Answer links(1);
    ifinfomsg link{};
    link.ifi_index = 2;
    link.ifi_flags = IFF_UP | IFF_RUNNING;
    links.message(RTM_NEWLINK, link);
    links.done();
    netlink::Answer routes(2);
    rtmsg route{};
    route.rtm_family = AF_INET;
    route.rtm_type = RTN_UNICAST;
    const int index = 2;
    routes.message(RTM_NEWROUTE, route, netlink::Answer::attribute(RTA_OIF, &index, sizeof index));
    routes.done();
    netlink::Answer addresses(3);
    ifaddrmsg address{};
    address.ifa_family = AF_INET;
    const std::uint8_t local[4] = {10, 0, 0, 1};
    addresses.message(RTM_NEWADDR, address, netlink::Answer::attribute(IFA_LOCAL, local, 4));
    addresses.done();
    return {links.bytes(), routes.bytes(), addresses.bytes()};
}

// A message of the type whose header claims `length` bytes (no more than itself by default), followed by
// `extra` bytes of the datagram.
netlink::Bytes headerOnly(std::uint16_t type, std::uint32_t sequence, std::uint32_t length = sizeof(nlmsghdr),
                          std::size_t extra = 0)
{
    nlmsghdr header{};
    header.nlmsg_len = length;
    header.nlmsg_type = type;
    header.nlmsg_seq = sequence;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&header);
    netlink::Bytes out(bytes, bytes + sizeof header);
    out.resize(out.size() + extra, 0);
    return out;
}

netlink::Bytes operator+(netlink::Bytes a, const netlink::Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace support::netlinkdumps
