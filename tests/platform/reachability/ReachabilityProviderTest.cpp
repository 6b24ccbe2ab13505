#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include "platform/dispatch/RunLoop.h"
#include "platform/reachability/FakeReachabilityProvider.h"
#include "platform/reachability/NetlinkReachabilityProvider.h"

using namespace platform;

namespace {

sockaddr_in ipv4(const char* text)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, text, &address.sin_addr);
    return address;
}

}  // namespace

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
