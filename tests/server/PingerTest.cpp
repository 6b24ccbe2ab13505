#include <gtest/gtest.h>

#include "support/server/PingerFixture.h"

using namespace support::pinger;

TEST(PingerChecksum, MatchesKnownVectors)
{
    auto bytesOf = [](std::uint16_t sum) {
        std::array<std::uint8_t, 2> out{};
        std::memcpy(out.data(), &sum, 2);
        return out;
    };
    const std::uint8_t rfcExample[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    EXPECT_EQ(bytesOf(Pinger::checksum(rfcExample, sizeof rfcExample)), (std::array<std::uint8_t, 2>{0x22, 0x0d}));
    const std::uint8_t echo[] = {0x08, 0x00, 0x00, 0x00, 0x12, 0x34, 0x00, 0x01};
    EXPECT_EQ(bytesOf(Pinger::checksum(echo, sizeof echo)), (std::array<std::uint8_t, 2>{0xe5, 0xca}));
    const std::uint8_t odd[] = {0x01};
    EXPECT_EQ(bytesOf(Pinger::checksum(odd, sizeof odd)), (std::array<std::uint8_t, 2>{0xfe, 0xff}));
}

TEST_F(PingerFixture, SendsEchoRequestsWithTheCountdownPayload)
{
    auto pinger = started();
    EXPECT_EQ(provider.boundIdentifier, pinger->identifier());
    pinger->sendPingWithData(std::nullopt);
    pinger->sendPingWithData(Bytes{1, 2, 3});
    pinger->sendPingWithData(std::nullopt);
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"start", "sent", "sent", "sent"}));
    ASSERT_EQ(provider.sent.size(), 3u);

    const auto& first = provider.sent[0].packet;
    ASSERT_EQ(first.size(), 8u + 56u);
    EXPECT_EQ(first[0], 8);
    EXPECT_EQ(first[1], 0);
    EXPECT_EQ((first[4] << 8) | first[5], pinger->identifier());
    EXPECT_EQ((first[6] << 8) | first[7], 0);
    EXPECT_EQ(Pinger::checksum(first.data(), first.size()), 0) << "a packet with its checksum sums to zero";
    EXPECT_EQ(std::string(first.begin() + 8, first.end()),
              std::string(26, ' ') + "99 bottles of beer on the wall");
    EXPECT_EQ(provider.sent[1].packet.size(), 11u);
    EXPECT_EQ(std::string(provider.sent[2].packet.begin() + 8, provider.sent[2].packet.end()),
              std::string(26, ' ') + "97 bottles of beer on the wall");
    EXPECT_EQ(provider.sent[0].address, ipv4Address("192.0.2.7"));
    EXPECT_EQ(pinger->nextSequenceNumber(), 3);
}

TEST_F(PingerFixture, FailedSendsReportTheirErrorAndStillAdvance)
{
    auto pinger = Pinger::simplePingWithHostAddress(ipv4Address("192.0.2.7"), provider);
    pinger->setDelegate(&recorder);
    pinger->sendPingWithData(std::nullopt);  // no socket yet
    pinger->start();
    provider.sendResult = 10;  // short
    pinger->sendPingWithData(std::nullopt);
    provider.sendResult = -1;
    provider.sendError = EHOSTUNREACH;
    pinger->sendPingWithData(std::nullopt);
    EXPECT_EQ(recorder.events,
              (std::vector<std::string>{"send failed " + std::to_string(EBADF), "start",
                                        "send failed " + std::to_string(ENOBUFS),
                                        "send failed " + std::to_string(EHOSTUNREACH)}));
    EXPECT_EQ(pinger->nextSequenceNumber(), 3);
    EXPECT_TRUE(provider.socketOpen());
}

TEST_F(PingerFixture, TellsRepliesFromEverythingElse)
{
    auto pinger = started();
    pinger->sendPingWithData(std::nullopt);
    pinger->sendPingWithData(std::nullopt);
    recorder.events.clear();
    const auto id = pinger->identifier();

    provider.deliver(datagram(0, id, 1));
    provider.deliver(datagram(0, id, 0));
    EXPECT_EQ(recorder.events, (std::vector<std::string>{"reply", "reply"}));
    recorder.events.clear();

    auto longHeader = datagram(0, id, 0);
    longHeader[0] = 0x4F;  // claims 60 header bytes: the ICMP part would lie past the end
    Bytes garbage(200, 0xA5);
    for (const auto& packet : {datagram(0, id, 2), datagram(0, static_cast<std::uint16_t>(id + 1), 0),
                               datagram(0, id, 0, false), datagram(8, id, 0), Bytes(27, 0), longHeader, garbage,
                               Bytes{0x45}})
        provider.deliver(packet);
    EXPECT_EQ(recorder.events, std::vector<std::string>(8, "unexpected"));
    EXPECT_TRUE(provider.socketOpen());
}

TEST_F(PingerFixture, TakesTheIdentifierItsSocketGot)
{
    // The identifier asked for was taken (or was 0), and the socket holds another one.
    auto pinger = Pinger::simplePingWithHostAddress(ipv4Address("192.0.2.7"), provider);
    const std::uint16_t given = static_cast<std::uint16_t>(pinger->identifier() ^ 0x5A5A);
    provider.givenIdentifier = given;
    pinger->setDelegate(&recorder);
    pinger->start();
    EXPECT_EQ(pinger->identifier(), given);
    pinger->sendPingWithData(std::nullopt);
    EXPECT_EQ((provider.sent.at(0).packet[4] << 8) | provider.sent.at(0).packet[5], given);
    recorder.events.clear();
    provider.deliver(datagram(0, given, 0));
    EXPECT_EQ(recorder.events, std::vector<std::string>{"reply"});
}

TEST_F(PingerFixture, SequenceNumbersWrapAndRepliesWaitForThem)
{
    auto pinger = started();
    for (int i = 0; i < 65536; ++i) pinger->sendPingWithData(Bytes{0});
    EXPECT_EQ(pinger->nextSequenceNumber(), 0);
    recorder.events.clear();
    provider.deliver(datagram(0, pinger->identifier(), 5));
    for (int i = 0; i < 6; ++i) pinger->sendPingWithData(Bytes{0});
    recorder.events.clear();
    provider.deliver(datagram(0, pinger->identifier(), 5));
    EXPECT_EQ(recorder.events, std::vector<std::string>{"reply"});
}

TEST_F(PingerFixture, ResolvesNamesToTheFirstIpv4Address)
{
    auto pinger = Pinger::simplePingWithHostName("ping.example", provider);
    pinger->setDelegate(&recorder);
    pinger->start();
    EXPECT_EQ(provider.pendingLookups(), std::vector<std::string>{"ping.example"});
    provider.answer({ipv6Address(), ipv4Address("198.51.100.1"), ipv4Address("198.51.100.2")});
    EXPECT_EQ(recorder.events, std::vector<std::string>{"start"});
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
    auto pinger = Pinger::simplePingWithHostName("v6only.example", provider);
    pinger->setDelegate(&recorder);
    pinger->start();
    provider.answer({ipv6Address()});
    ASSERT_TRUE(recorder.lastError);
    EXPECT_EQ(recorder.lastError->domain, Pinger::kHostErrorDomain);
    EXPECT_EQ(recorder.lastError->code, Pinger::kHostErrorHostNotFound);

    pinger->start();
    provider.answer({}, -2);
    EXPECT_EQ(recorder.lastError->code, Pinger::kHostErrorUnknown);
    EXPECT_EQ(recorder.lastError->info(Pinger::kGetAddrInfoFailureKey), "-2");

    // The unprivileged socket is refused on machines that do not allow it.
    provider.openError = EACCES;
    auto refused = Pinger::simplePingWithHostAddress(ipv4Address("192.0.2.7"), provider);
    refused->setDelegate(&recorder);
    refused->start();
    EXPECT_EQ(recorder.lastError->domain, Pinger::kPosixErrorDomain);
    EXPECT_EQ(recorder.lastError->code, EACCES);

    auto v6 = Pinger::simplePingWithHostAddress(ipv6Address(), provider);
    v6->setDelegate(&recorder);
    v6->start();
    EXPECT_EQ(recorder.lastError->code, EPROTONOSUPPORT);

    // A read that fails without an errno value ends with a broken pipe, and the socket closes.
    provider.openError = 0;
    auto running = started();
    provider.failRead(0, 0);
    EXPECT_EQ(recorder.lastError->code, EPIPE);
    EXPECT_FALSE(provider.socketOpen());
    EXPECT_EQ(running->hostAddress(), ipv4Address("192.0.2.7")) << "a pinger made for an address keeps it";
}
