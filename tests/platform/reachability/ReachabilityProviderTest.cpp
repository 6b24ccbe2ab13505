#include <gtest/gtest.h>

#include "support/reachability/NetlinkDumps.h"

using namespace support::netlinkdumps;

TEST(NetlinkReachability, RoutingAnswersAreReadWithinEachMessage)
{
    const auto any = ipv4("0.0.0.0");
    const auto local = ipv4("10.0.0.1");
    const auto* anyAddress = reinterpret_cast<const sockaddr*>(&any);
    const auto* localAddress = reinterpret_cast<const sockaddr*>(&local);
    const Dumps wired = wiredMachine();
    EXPECT_EQ(NetlinkReachabilityProvider::flagsFromDumps(wired.links, wired.routes, wired.addresses, anyAddress),
              kReachabilityFlagReachable);
    EXPECT_EQ(NetlinkReachabilityProvider::flagsFromDumps(wired.links, wired.routes, wired.addresses, localAddress),
              kReachabilityFlagReachable | kReachabilityFlagIsLocalAddress);

    // Messages cut short after their header once had their missing body and attributes read from
    // beyond the datagram; they are skipped, and give no way out.
    struct Case {
        const char* name;
        Dumps dumps;
    };
    const Case cases[] = {
        {"short link", {headerOnly(RTM_NEWLINK, 1), wired.routes, wired.addresses}},
        {"short route", {wired.links, headerOnly(RTM_NEWROUTE, 2), wired.addresses}},
        {"short address", {wired.links, wired.routes, headerOnly(RTM_NEWADDR, 3)}},
        // A length off the four-byte grid at the end of a datagram once wrapped the count of what was
        // left round to nearly four billion.
        {"ragged end",
         {wired.links, wired.routes,
          netlink::Bytes(wired.addresses.begin(), wired.addresses.end() - NLMSG_LENGTH(4)) +
              headerOnly(RTM_NEWADDR, 3, 17, 2)}},
    };
    for (const auto& [name, dumps] : cases) {
        SCOPED_TRACE(name);
        const auto flags = NetlinkReachabilityProvider::flagsFromDumps(dumps.links, dumps.routes, dumps.addresses,
                                                                       localAddress);
        ASSERT_TRUE(flags);
        const bool addressRead = std::string(name) != "short address";
        EXPECT_EQ((*flags & kReachabilityFlagIsLocalAddress) != 0, addressRead);
    }
    EXPECT_FALSE(NetlinkReachabilityProvider::flagsFromDumps(headerOnly(NLMSG_ERROR, 1), wired.routes,
                                                             wired.addresses, anyAddress));
}

TEST(NetlinkReachability, LoopbackIsAlwaysReachable)
{
    RunLoop loop;
    NetlinkReachabilityProvider provider(loop);
    const auto loopback = ipv4("127.0.0.1");
    auto reference = provider.createWithAddress(reinterpret_cast<const sockaddr*>(&loopback));
    ASSERT_TRUE(reference);
    std::uint32_t flags = 0;
    ASSERT_TRUE(reference->getFlags(flags));
    EXPECT_TRUE(flags & kReachabilityFlagReachable);
    EXPECT_TRUE(flags & kReachabilityFlagIsLocalAddress);

    for (const char* name : {"localhost", "::1", "127.0.0.2"}) {
        SCOPED_TRACE(name);
        auto named = provider.createWithName(name);
        flags = 0;
        ASSERT_TRUE(named->getFlags(flags));
        EXPECT_TRUE(flags & kReachabilityFlagReachable);
    }
}

TEST(NetlinkReachability, ZeroAddressAnswersAndMonitoringStartsAndStopsCleanly)
{
    RunLoop loop;
    auto provider = std::make_unique<NetlinkReachabilityProvider>(loop);
    const auto any = ipv4("0.0.0.0");
    auto reference = provider->createWithAddress(reinterpret_cast<const sockaddr*>(&any));
    std::uint32_t flags = 0xFFFFFFFF;
    ASSERT_TRUE(reference->getFlags(flags));
    EXPECT_EQ(flags & ~kReachabilityFlagReachable, 0u);

    reference->schedule([](std::uint32_t) {});
    reference->schedule([](std::uint32_t) {});
    reference->unschedule();
    reference->schedule([](std::uint32_t) {});
    // The provider goes first: its monitor stops although a reference is still scheduled.
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
    const auto any = ipv4("0.0.0.0");
    auto reference = provider.createWithAddress(reinterpret_cast<const sockaddr*>(&any));
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
