#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

#include "platform/dispatch/RunLoop.h"
#include "platform/reachability/FakeReachabilityProvider.h"
#include "platform/reachability/NetlinkReachabilityProvider.h"
#include "support/reachability/NetlinkAnswer.h"

using namespace platform;
using netlink::Bytes;

namespace {

sockaddr_in ipv4(const char* text)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, text, &address.sin_addr);
    return address;
}

const sockaddr_in kAny = ipv4("0.0.0.0");
const auto* const kAnyAddress = reinterpret_cast<const sockaddr*>(&kAny);

// The routing answers of a machine.
struct Dumps { Bytes links, routes, addresses; };

// Link 2 up with 10.0.0.1 on it and a default route through it.
Dumps wiredMachine()
{
    netlink::Answer links(1), routes(2), addresses(3);
    ifinfomsg link{};
    link.ifi_index = 2;
    link.ifi_flags = IFF_UP | IFF_RUNNING;
    links.message(RTM_NEWLINK, link);
    rtmsg route{};
    route.rtm_family = AF_INET;
    route.rtm_type = RTN_UNICAST;
    const int index = 2;
    routes.message(RTM_NEWROUTE, route, netlink::Answer::attribute(RTA_OIF, &index, sizeof index));
    ifaddrmsg address{};
    address.ifa_family = AF_INET;
    const std::uint8_t local[4] = {10, 0, 0, 1};
    addresses.message(RTM_NEWADDR, address, netlink::Answer::attribute(IFA_LOCAL, local, 4));
    for (netlink::Answer* answer : {&links, &routes, &addresses}) answer->done();
    return {links.bytes(), routes.bytes(), addresses.bytes()};
}

// A message of the type whose header claims `length` bytes (no more than itself by default), followed by
// `extra` bytes of the datagram.
Bytes headerOnly(std::uint16_t type, std::uint32_t sequence, std::uint32_t length = sizeof(nlmsghdr), std::size_t extra = 0)
{
    nlmsghdr header{};
    header.nlmsg_len = length;
    header.nlmsg_type = type;
    header.nlmsg_seq = sequence;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&header);
    Bytes out(bytes, bytes + sizeof header);
    out.resize(out.size() + extra, 0);
    return out;
}

}  // namespace

TEST(NetlinkReachability, RoutingAnswersAreReadWithinEachMessageAndLoopbackIsAlwaysReachable)
{
    const auto local = ipv4("10.0.0.1");
    const auto* localAddress = reinterpret_cast<const sockaddr*>(&local);
    const Dumps wired = wiredMachine();
    EXPECT_EQ(NetlinkReachabilityProvider::flagsFromDumps(wired.links, wired.routes, wired.addresses, kAnyAddress), kReachabilityFlagReachable);
    EXPECT_EQ(NetlinkReachabilityProvider::flagsFromDumps(wired.links, wired.routes, wired.addresses, localAddress),
              kReachabilityFlagReachable | kReachabilityFlagIsLocalAddress);

    // Messages cut short after their header once had their missing body and attributes read from
    // beyond the datagram; they are skipped, and give no way out.
    Bytes ragged(wired.addresses.begin(), wired.addresses.end() - NLMSG_LENGTH(4));
    const Bytes tail = headerOnly(RTM_NEWADDR, 3, 17, 2);
    ragged.insert(ragged.end(), tail.begin(), tail.end());
    const struct { const char* name; Dumps dumps; bool addressRead; } cases[] = {
        {"short link", {headerOnly(RTM_NEWLINK, 1), wired.routes, wired.addresses}, true},
        {"short route", {wired.links, headerOnly(RTM_NEWROUTE, 2), wired.addresses}, true},
        {"short address", {wired.links, wired.routes, headerOnly(RTM_NEWADDR, 3)}, false},
        // A length off the four-byte grid at the end of a datagram once wrapped the count of what was
        // left round to nearly four billion.
        {"ragged end", {wired.links, wired.routes, ragged}, true},
    };
    for (const auto& [name, dumps, addressRead] : cases) {
        const auto flags = NetlinkReachabilityProvider::flagsFromDumps(dumps.links, dumps.routes, dumps.addresses, localAddress);
        ASSERT_TRUE(flags) << name;
        EXPECT_EQ((*flags & kReachabilityFlagIsLocalAddress) != 0, addressRead) << name;
    }
    EXPECT_FALSE(NetlinkReachabilityProvider::flagsFromDumps(headerOnly(NLMSG_ERROR, 1), wired.routes, wired.addresses, kAnyAddress));
    // Loopback is always reachable, by address or name; the zero address answers; monitoring starts and stops
    // cleanly, even when the provider goes before a reference still scheduled.
    RunLoop loop;
    auto provider = std::make_unique<NetlinkReachabilityProvider>(loop);
    const auto loopback = ipv4("127.0.0.1");
    std::uint32_t flags = 0;
    ASSERT_TRUE(provider->createWithAddress(reinterpret_cast<const sockaddr*>(&loopback))->getFlags(flags));
    EXPECT_TRUE(flags & kReachabilityFlagReachable);
    EXPECT_TRUE(flags & kReachabilityFlagIsLocalAddress);
    for (const char* name : {"localhost", "::1", "127.0.0.2"}) {
        flags = 0;
        ASSERT_TRUE(provider->createWithName(name)->getFlags(flags)) << name;
        EXPECT_TRUE(flags & kReachabilityFlagReachable) << name;
    }
    auto reference = provider->createWithAddress(kAnyAddress);
    flags = 0xFFFFFFFF;
    ASSERT_TRUE(reference->getFlags(flags));
    EXPECT_EQ(flags & ~kReachabilityFlagReachable, 0u);
    reference->schedule([](std::uint32_t) {});
    reference->schedule([](std::uint32_t) {});
    reference->unschedule();
    reference->schedule([](std::uint32_t) {});
    provider.reset();
    reference.reset();
    loop.runUntilIdle();
    sockaddr unsupported{};
    unsupported.sa_family = AF_UNIX;
    EXPECT_FALSE(NetlinkReachabilityProvider(loop).createWithAddress(&unsupported));
}

TEST(FakeReachability, DeliversChangesOnTheMainQueueUntilUnscheduled)
{
    RunLoop loop;
    FakeReachabilityProvider provider(loop);
    auto reference = provider.createWithAddress(kAnyAddress);
    std::vector<std::uint32_t> seen;
    reference->schedule([&](std::uint32_t flags) {
        EXPECT_TRUE(loop.isMainThread());
        seen.push_back(flags);
    });
    provider.setFlags(kReachabilityFlagReachable);
    EXPECT_TRUE(seen.empty());
    loop.runUntilIdle();
    EXPECT_EQ(seen, std::vector<std::uint32_t>{kReachabilityFlagReachable});
    // A change already queued when the reference is unscheduled is dropped.
    provider.setFlags(0);
    reference->unschedule();
    loop.runUntilIdle();
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(provider.scheduledCount(), 0u);
    provider.setFlagsUnavailable(true);
    std::uint32_t flags = 0;
    EXPECT_FALSE(reference->getFlags(flags));
}
