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
    // The first byte says how many pings went out before the packet arrived.
    const int sent = size > 0 ? data[0] % 4 : 0;
    for (int i = 0; i < sent; ++i) pinger->sendPingWithData(std::nullopt);

    const Pinger::Bytes packet(data + (size > 0 ? 1 : 0), data + size);
    // The socket always hands over the IPv4 header it rebuilt; an empty read is a failure, not a packet.
    if (packet.empty()) return 0;
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
