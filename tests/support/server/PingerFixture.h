#pragma once

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <cstring>

#include "platform/icmp/FakeIcmpProvider.h"
#include "server/Pinger.h"

// Socket addresses and ICMP datagrams made by hand, a delegate that records every report, and a pinger
// on a socket double the test drives.
namespace support::pinger {

using Bytes = Pinger::Bytes;

inline Bytes ipv4Address(const char* text)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, text, &address.sin_addr);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address);
    return Bytes(bytes, bytes + sizeof address);
}

inline Bytes ipv6Address()
{
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address);
    return Bytes(bytes, bytes + sizeof address);
}

// An IPv4 datagram around an ICMP message, with the ICMP checksum made right unless told otherwise.
inline Bytes datagram(std::uint8_t type, std::uint16_t identifier, std::uint16_t sequence, bool goodChecksum = true)
{
    Bytes packet(20, 0);
    packet[0] = 0x45;
    packet[9] = 1;
    Bytes icmp = {type, 0, 0, 0, static_cast<std::uint8_t>(identifier >> 8), static_cast<std::uint8_t>(identifier),
                  static_cast<std::uint8_t>(sequence >> 8), static_cast<std::uint8_t>(sequence), 'p', 'i', 'n', 'g'};
    auto sum = Pinger::checksum(icmp.data(), icmp.size());
    if (!goodChecksum) sum ^= 0x0101;
    std::memcpy(&icmp[2], &sum, 2);
    packet.insert(packet.end(), icmp.begin(), icmp.end());
    return packet;
}

struct Recorder : PingerDelegate {
    std::vector<std::string> events;
    std::vector<Bytes> sentPackets;
    std::optional<platform::Error> lastError;
    void simplePingDidStartWithAddress(Pinger*, const Bytes&) override { events.push_back("start"); }
    void simplePingDidFailWithError(Pinger*, const platform::Error& e) override
    {
        events.push_back("fail");
        lastError = e;
    }
    void simplePingDidSendPacket(Pinger*, const Bytes& p) override
    {
        events.push_back("sent");
        sentPackets.push_back(p);
    }
    void simplePingDidFailToSendPacket(Pinger*, const Bytes&, const platform::Error& e) override
    {
        events.push_back("send failed " + std::to_string(e.code));
    }
    void simplePingDidReceivePingResponsePacket(Pinger*, const Bytes&) override { events.push_back("reply"); }
    void simplePingDidReceiveUnexpectedPacket(Pinger*, const Bytes&) override { events.push_back("unexpected"); }
};

struct PingerFixture : ::testing::Test {
    platform::FakeIcmpProvider provider;
    Recorder recorder;

    std::unique_ptr<Pinger> started()
    {
        auto pinger = Pinger::simplePingWithHostAddress(ipv4Address("192.0.2.7"), provider);
        pinger->setDelegate(&recorder);
        pinger->start();
        return pinger;
    }
};

}  // namespace support::pinger
