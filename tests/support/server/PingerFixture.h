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

template <typename Address>
Bytes bytesOf(const Address& address)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address);
    return Bytes(bytes, bytes + sizeof address);
}

inline Bytes ipv4Address(const char* text)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, text, &address.sin_addr);
    return bytesOf(address);
}

inline Bytes ipv6Address()
{
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    return bytesOf(address);
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
    std::optional<platform::Error> lastError;
    void simplePingDidStartWithAddress(Pinger*, const Bytes&) override { events.push_back("start"); }
    void simplePingDidFailWithError(Pinger*, const platform::Error& e) override
    {
        events.push_back("fail");
        lastError = e;
    }
    void simplePingDidSendPacket(Pinger*, const Bytes&) override { events.push_back("sent"); }
    void simplePingDidFailToSendPacket(Pinger*, const Bytes&, const platform::Error& e) override
    {
        events.push_back("send failed " + std::to_string(e.code));
    }
    void simplePingDidReceivePingResponsePacket(Pinger*, const Bytes&) override { events.push_back("reply"); }
    void simplePingDidReceiveUnexpectedPacket(Pinger*, const Bytes&) override { events.push_back("unexpected"); }
    std::vector<std::string> take() { return std::exchange(events, {}); }
};

struct PingerFixture : ::testing::Test {
    platform::FakeIcmpProvider provider;
    Recorder recorder;

    // A pinger for the address (or, given a name, for the host), reporting to the recorder.
    std::unique_ptr<Pinger> made(const Bytes& address = ipv4Address("192.0.2.7"), bool start = true)
    {
        return ready(Pinger::simplePingWithHostAddress(address, provider), start);
    }
    std::unique_ptr<Pinger> named(const std::string& host) { return ready(Pinger::simplePingWithHostName(host, provider), true); }

private:
    std::unique_ptr<Pinger> ready(std::unique_ptr<Pinger> pinger, bool start)
    {
        pinger->setDelegate(&recorder);
        if (start) pinger->start();
        return pinger;
    }
};

}  // namespace support::pinger
