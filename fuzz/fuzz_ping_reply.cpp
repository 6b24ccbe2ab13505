// Whatever arrives on the echo socket is read as a reply to our pings. A packet taken as a reply must
// be an echo reply to this pinger, to a ping it sent, with a checksum that holds; anything else is
// reported as unexpected, and every packet is reported exactly once.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

#include "FuzzInput.h"
#include "platform/icmp/FakeIcmpProvider.h"
#include "server/Pinger.h"

using fuzzinput::check;

namespace {

struct Counter : PingerDelegate {
    int replies = 0;
    int unexpected = 0;
    void simplePingDidReceivePingResponsePacket(Pinger*, const Bytes&) override { ++replies; }
    void simplePingDidReceiveUnexpectedPacket(Pinger*, const Bytes&) override { ++unexpected; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    platform::FakeIcmpProvider provider;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&address);
    auto pinger = Pinger::simplePingWithHostAddress(Pinger::Bytes(raw, raw + sizeof address), provider);
    Counter counter;
    pinger->setDelegate(&counter);
    pinger->start();
    // The first byte says how many pings went out before the packet arrived (its low two bits), and
    // whether the packet gets this pinger's random identifier (bit 2) and a mended checksum (bit 3), so
    // the fuzzer reaches the accepting path without guessing either.
    if (size == 0) return 0;
    const std::uint8_t control = data[0];
    for (int i = 0; i < (control & 3); ++i) pinger->sendPingWithData(std::nullopt);

    Pinger::Bytes packet(data + 1, data + size);
    // The socket always hands over the IPv4 header it rebuilt; an empty read is a failure, not a packet.
    if (packet.empty()) return 0;
    if (const auto offset = Pinger::icmpHeaderOffsetInPacket(packet)) {
        std::uint8_t* icmp = packet.data() + *offset;
        if (control & 4) {
            icmp[4] = static_cast<std::uint8_t>(pinger->identifier() >> 8);
            icmp[5] = static_cast<std::uint8_t>(pinger->identifier());
        }
        if (control & 8) {
            icmp[2] = icmp[3] = 0;
            const std::uint16_t sum = Pinger::checksum(icmp, packet.size() - *offset);
            std::memcpy(icmp + 2, &sum, sizeof sum);
        }
    }
    provider.deliver(packet);
    check(counter.replies + counter.unexpected == 1, "a packet was not reported exactly once");
    if (counter.replies == 1) {
        const auto offset = Pinger::icmpHeaderOffsetInPacket(packet);
        const auto header = Pinger::icmpInPacket(packet);
        check(offset && header && *offset + 8 <= packet.size(), "a reply without an ICMP header");
        check(header->type == 0 && header->code == 0, "a reply that is not an echo reply");
        check(header->identifier == pinger->identifier(), "a reply to another pinger");
        check(header->sequenceNumber < pinger->nextSequenceNumber(), "a reply to a ping never sent");
        // The sum over the whole message, its checksum included, folds to zero.
        check(Pinger::checksum(packet.data() + *offset, packet.size() - *offset) == 0, "a reply with a bad checksum");
    }
    return 0;
}
