#include <gtest/gtest.h>

#include <netinet/in.h>

#include <cstring>

#include "platform/dispatch/RunLoop.h"
#include "platform/icmp/LinuxIcmpProvider.h"

using namespace platform;

namespace {

// Many machines keep unprivileged ICMP sockets off (ping_group_range); either way nothing may crash.
struct LinuxIcmpProviderTest : ::testing::Test {
    RunLoop loop;
    LinuxIcmpProvider provider{loop};
    int error = 0;
    std::vector<std::uint8_t> received;

    // Sends an echo request to the loopback address and waits for what comes back.
    std::vector<std::uint8_t> echo(IcmpSocket& socket, std::uint16_t identifier)
    {
        socket.startReading([&](const std::vector<std::uint8_t>& datagram, long, int) { received = datagram; });
        std::uint8_t request[8] = {8, 0, 0, 0, static_cast<std::uint8_t>(identifier >> 8), static_cast<std::uint8_t>(identifier), 0, 1};
        sockaddr_in loopback{};
        loopback.sin_family = AF_INET;
        loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(socket.sendTo(request, sizeof request, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback, error), 8);
        EXPECT_TRUE(loop.runUntil([&] { return !received.empty(); }, std::chrono::seconds(5)));
        EXPECT_EQ(received.size(), 28u);
        received.resize(28);
        return received;
    }
};

}  // namespace

TEST_F(LinuxIcmpProviderTest, OpensOrFailsCleanlyAndEchoesOverLoopbackWhenAllowed)
{
    auto socket = provider.open(0x4242, error);
    if (!socket) {
        EXPECT_NE(error, 0);
        GTEST_SKIP() << "unprivileged ICMP sockets are disabled here: " << std::strerror(error);
    }
    const auto reply = echo(*socket, 0x4242);
    EXPECT_EQ(reply[0], 0x45);
    EXPECT_EQ(reply[9], 1);
    EXPECT_EQ(reply[20], 0) << "an echo reply";
    // Kernels differ on whether a second socket may hold the same identifier; none fails the open. Asked for
    // 0, the kernel chooses, and the reply carries what the socket reports.
    auto first = provider.open(0x4343, error);
    ASSERT_TRUE(first) << std::strerror(error);
    EXPECT_EQ(first->identifier(), 0x4343);
    auto second = provider.open(0x4343, error);
    ASSERT_TRUE(second) << std::strerror(error);
    EXPECT_NE(second->identifier(), 0);
    auto chosen = provider.open(0, error);
    ASSERT_TRUE(chosen) << std::strerror(error);
    const std::uint16_t given = chosen->identifier();
    EXPECT_NE(given, 0);
    received.clear();
    const auto chosenReply = echo(*chosen, 0);
    EXPECT_EQ((chosenReply[24] << 8) | chosenReply[25], given);
}

TEST_F(LinuxIcmpProviderTest, ResolvesNumericNamesOnTheMainQueue)
{
    std::optional<int> result;
    std::vector<std::vector<std::uint8_t>> found;
    auto token = provider.resolve("127.0.0.1", [&](const auto& addresses, int failure) {
        EXPECT_TRUE(loop.isMainThread());
        found = addresses;
        result = failure;
    });
    ASSERT_TRUE(loop.runUntil([&] { return result.has_value(); }));
    EXPECT_EQ(*result, 0);
    ASSERT_FALSE(found.empty());
    sockaddr_in first{};
    std::memcpy(&first, found[0].data(), sizeof first);
    EXPECT_EQ(first.sin_family, AF_INET);
    EXPECT_EQ(ntohl(first.sin_addr.s_addr), INADDR_LOOPBACK);
}
