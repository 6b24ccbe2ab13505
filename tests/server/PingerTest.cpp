#include <gtest/gtest.h>

#include "support/server/PingerFixture.h"

using namespace support::pinger;
using Events = std::vector<std::string>;

// The checksum matches known vectors; echo requests carry the countdown payload.
TEST_F(PingerFixture, SendsEchoRequestsWithTheCountdownPayload)
{
    const std::vector<std::pair<Bytes, std::array<std::uint8_t, 2>>> vectors = {
        {{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7}, {0x22, 0x0d}},  // the RFC's example
        {{0x08, 0x00, 0x00, 0x00, 0x12, 0x34, 0x00, 0x01}, {0xe5, 0xca}},  // an echo request
        {{0x01}, {0xfe, 0xff}},                                            // an odd length
    };
    for (const auto& [data, expected] : vectors) {
        const std::uint16_t sum = Pinger::checksum(data.data(), data.size());
        std::array<std::uint8_t, 2> out{};
        std::memcpy(out.data(), &sum, 2);
        EXPECT_EQ(out, expected) << data.size();
    }

    auto pinger = made();
    EXPECT_EQ(provider.boundIdentifier, pinger->identifier());
    for (const auto& data : {std::optional<Bytes>(), std::optional<Bytes>({1, 2, 3}), std::optional<Bytes>()}) pinger->sendPingWithData(data);
    EXPECT_EQ(recorder.events, (Events{"start", "sent", "sent", "sent"}));
    ASSERT_EQ(provider.sent.size(), 3u);
    const auto& first = provider.sent[0].packet;
    ASSERT_EQ(first.size(), 8u + 56u);
    EXPECT_EQ(std::tuple(first[0], first[1], (first[4] << 8) | first[5], (first[6] << 8) | first[7]), std::tuple(8, 0, int(pinger->identifier()), 0));
    EXPECT_EQ(Pinger::checksum(first.data(), first.size()), 0) << "a packet with its checksum sums to zero";
    EXPECT_EQ(std::string(first.begin() + 8, first.end()), std::string(26, ' ') + "99 bottles of beer on the wall");
    EXPECT_EQ(provider.sent[1].packet.size(), 11u);
    EXPECT_EQ(std::string(provider.sent[2].packet.begin() + 8, provider.sent[2].packet.end()),
              std::string(26, ' ') + "97 bottles of beer on the wall");
    EXPECT_EQ(provider.sent[0].address, ipv4Address("192.0.2.7"));
    EXPECT_EQ(pinger->nextSequenceNumber(), 3);
}

TEST_F(PingerFixture, FailedSendsReportTheirErrorAndStillAdvance)
{
    auto pinger = made(ipv4Address("192.0.2.7"), false);
    pinger->sendPingWithData(std::nullopt);  // no socket yet
    pinger->start();
    provider.sendResult = 10;  // short
    pinger->sendPingWithData(std::nullopt);
    provider.sendResult = -1;
    provider.sendError = EHOSTUNREACH;
    pinger->sendPingWithData(std::nullopt);
    EXPECT_EQ(recorder.events, (Events{"send failed " + std::to_string(EBADF), "start", "send failed " + std::to_string(ENOBUFS),
                                       "send failed " + std::to_string(EHOSTUNREACH)}));
    EXPECT_EQ(pinger->nextSequenceNumber(), 3);
    EXPECT_TRUE(provider.socketOpen());
}

TEST_F(PingerFixture, TellsRepliesFromEverythingElse)
{
    auto pinger = made();
    pinger->sendPingWithData(std::nullopt);
    pinger->sendPingWithData(std::nullopt);
    recorder.take();
    const auto id = pinger->identifier();
    provider.deliver(datagram(0, id, 1));
    provider.deliver(datagram(0, id, 0));
    EXPECT_EQ(recorder.take(), (Events{"reply", "reply"}));

    auto longHeader = datagram(0, id, 0);
    longHeader[0] = 0x4F;  // claims 60 header bytes: the ICMP part would lie past the end
    for (const auto& packet : {datagram(0, id, 2), datagram(0, static_cast<std::uint16_t>(id + 1), 0), datagram(0, id, 0, false),
                               datagram(8, id, 0), Bytes(27, 0), longHeader, Bytes(200, 0xA5), Bytes{0x45}})
        provider.deliver(packet);
    EXPECT_EQ(recorder.events, Events(8, "unexpected"));
    EXPECT_TRUE(provider.socketOpen());
}

TEST_F(PingerFixture, TakesTheIdentifierItsSocketGot)
{
    // The identifier asked for was taken (or was 0), and the socket holds another one.
    auto pinger = made(ipv4Address("192.0.2.7"), false);
    const std::uint16_t given = static_cast<std::uint16_t>(pinger->identifier() ^ 0x5A5A);
    provider.givenIdentifier = given;
    pinger->start();
    EXPECT_EQ(pinger->identifier(), given);
    pinger->sendPingWithData(std::nullopt);
    EXPECT_EQ((provider.sent.at(0).packet[4] << 8) | provider.sent.at(0).packet[5], given);
    recorder.take();
    provider.deliver(datagram(0, given, 0));
    EXPECT_EQ(recorder.events, Events{"reply"});
}

TEST_F(PingerFixture, SequenceNumbersWrapAndRepliesWaitForThem)
{
    auto pinger = made();
    for (int i = 0; i < 65536; ++i) pinger->sendPingWithData(Bytes{0});
    EXPECT_EQ(pinger->nextSequenceNumber(), 0);
    provider.deliver(datagram(0, pinger->identifier(), 5));
    for (int i = 0; i < 6; ++i) pinger->sendPingWithData(Bytes{0});
    recorder.take();
    provider.deliver(datagram(0, pinger->identifier(), 5));
    EXPECT_EQ(recorder.events, Events{"reply"});
}

TEST_F(PingerFixture, ResolvesNamesToTheFirstIpv4Address)
{
    auto pinger = named("ping.example");
    EXPECT_EQ(provider.pendingLookups(), Events{"ping.example"});
    provider.answer({ipv6Address(), ipv4Address("198.51.100.1"), ipv4Address("198.51.100.2")});
    EXPECT_EQ(recorder.events, Events{"start"});
    EXPECT_EQ(pinger->hostAddress(), ipv4Address("198.51.100.1"));
    // Stopping forgets a resolved address, so the next start looks the name up again.
    pinger->stop();
    EXPECT_FALSE(pinger->hostAddress());
    EXPECT_FALSE(provider.socketOpen());
    pinger->start();
    EXPECT_EQ(provider.pendingLookups().size(), 1u);
    // A lookup abandoned by stop() never reaches the pinger.
    pinger->stop();
    EXPECT_TRUE(provider.pendingLookups().empty());
}

TEST_F(PingerFixture, ResolutionAndSocketFailuresStopThePinger)
{
    const auto lastError = [this] { return std::tuple(recorder.lastError->domain, recorder.lastError->code); };
    auto pinger = named("v6only.example");
    provider.answer({ipv6Address()});
    EXPECT_EQ(lastError(), std::tuple(Pinger::kHostErrorDomain, Pinger::kHostErrorHostNotFound));
    pinger->start();
    provider.answer({}, -2);
    EXPECT_EQ(recorder.lastError->code, Pinger::kHostErrorUnknown);
    EXPECT_EQ(recorder.lastError->info(Pinger::kGetAddrInfoFailureKey), "-2");

    // The unprivileged socket is refused on machines that do not allow it.
    provider.openError = EACCES;
    auto refused = made();
    EXPECT_EQ(lastError(), std::tuple(Pinger::kPosixErrorDomain, EACCES));
    auto v6 = made(ipv6Address());
    EXPECT_EQ(recorder.lastError->code, EPROTONOSUPPORT);

    // A read that fails without an errno value ends with a broken pipe, and the socket closes.
    provider.openError = 0;
    auto running = made();
    provider.failRead(0, 0);
    EXPECT_EQ(recorder.lastError->code, EPIPE);
    EXPECT_FALSE(provider.socketOpen());
    EXPECT_EQ(running->hostAddress(), ipv4Address("192.0.2.7")) << "a pinger made for an address keeps it";
}
