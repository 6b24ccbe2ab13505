#include <gtest/gtest.h>

#include <netinet/in.h>

#include <cstring>

#include "platform/dispatch/RunLoop.h"
#include "platform/icmp/LinuxIcmpProvider.h"

using namespace platform;

// Many machines keep unprivileged ICMP sockets off (ping_group_range); either way nothing may crash.
TEST(LinuxIcmpProvider, OpensOrFailsCleanlyAndEchoesOverLoopbackWhenAllowed)
{
    RunLoop loop;
    LinuxIcmpProvider provider(loop);
    int error = 0;
    auto socket = provider.open(0x4242, error);
    if (!socket) {
        EXPECT_NE(error, 0);
        GTEST_SKIP() << "unprivileged ICMP sockets are disabled here: " << std::strerror(error);
    }
    std::vector<std::uint8_t> received;
    socket->startReading([&](const std::vector<std::uint8_t>& datagram, long, int) { received = datagram; });
    std::uint8_t request[8] = {8, 0, 0, 0, 0x42, 0x42, 0, 1};
    sockaddr_in loopback{};
    loopback.sin_family = AF_INET;
    loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(socket->sendTo(request, sizeof request, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback, error), 8);
    ASSERT_TRUE(loop.runUntil([&] { return !received.empty(); }, std::chrono::seconds(5)));
    ASSERT_EQ(received.size(), 28u);
    EXPECT_EQ(received[0], 0x45);
    EXPECT_EQ(received[9], 1);
    EXPECT_EQ(received[20], 0) << "an echo reply";
}

TEST(LinuxIcmpProvider, ASocketReportsTheIdentifierItGotWhenTheOneAskedForIsZeroOrTaken)
{
    RunLoop loop;
    LinuxIcmpProvider provider(loop);
    int error = 0;
    auto first = provider.open(0x4343, error);
    if (!first) GTEST_SKIP() << "unprivileged ICMP sockets are disabled here: " << std::strerror(error);
    EXPECT_EQ(first->identifier(), 0x4343);
    // Kernels differ on whether a second socket may hold the same identifier; none fails the open.
    auto second = provider.open(0x4343, error);
    ASSERT_TRUE(second) << std::strerror(error);
    EXPECT_NE(second->identifier(), 0);

    // Asked for 0, the kernel chooses, and the reply carries what the socket reports.
    auto chosen = provider.open(0, error);
    ASSERT_TRUE(chosen) << std::strerror(error);
    const std::uint16_t given = chosen->identifier();
    EXPECT_NE(given, 0);
    std::vector<std::uint8_t> received;
    chosen->startReading([&](const std::vector<std::uint8_t>& datagram, long, int) { received = datagram; });
    std::uint8_t request[8] = {8, 0, 0, 0, 0, 0, 0, 1};
    sockaddr_in loopback{};
    loopback.sin_family = AF_INET;
    loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(chosen->sendTo(request, sizeof request, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback, error), 8);
    ASSERT_TRUE(loop.runUntil([&] { return !received.empty(); }, std::chrono::seconds(5)));
    ASSERT_EQ(received.size(), 28u);
    EXPECT_EQ((received[24] << 8) | received[25], given);
}

TEST(LinuxIcmpProvider, ResolvesNumericNamesOnTheMainQueue)
{
    RunLoop loop;
    LinuxIcmpProvider provider(loop);
    std::optional<int> result;
    std::vector<std::vector<std::uint8_t>> found;
    auto token = provider.resolve("127.0.0.1", [&](const auto& addresses, int error) {
        EXPECT_TRUE(loop.isMainThread());
        found = addresses;
        result = error;
    });
    ASSERT_TRUE(loop.runUntil([&] { return result.has_value(); }));
    EXPECT_EQ(*result, 0);
    ASSERT_FALSE(found.empty());
    sockaddr_in first{};
    std::memcpy(&first, found[0].data(), sizeof first);
    EXPECT_EQ(first.sin_family, AF_INET);
    EXPECT_EQ(ntohl(first.sin_addr.s_addr), INADDR_LOOPBACK);
}
