#include "server/Pinger.h"

#include <netinet/in.h>

#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

using platform::Error;

namespace {

constexpr std::size_t kIcmpHeaderSize = 8;
constexpr std::size_t kMinimalIpv4HeaderSize = 20;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kEchoReply = 0;

Error posixError(int code) { return Error::make(Pinger::kPosixErrorDomain, code, std::strerror(code)); }

std::uint16_t readBigEndian(const std::uint8_t* bytes) { return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]); }

bool isIpv4(const Pinger::Bytes& address)
{
    sa_family_t family = 0;
    if (address.size() < sizeof(sockaddr_in)) return false;
    std::memcpy(&family, address.data() + offsetof(sockaddr, sa_family), sizeof family);
    return family == AF_INET;
}

// Never 0: a ping socket bound to port 0 gets a port of the kernel's choosing instead.
std::uint16_t randomIdentifier()
{
    std::random_device device;
    return static_cast<std::uint16_t>(std::uniform_int_distribution<unsigned>(1, 0xFFFF)(device));
}

}  // namespace

std::unique_ptr<Pinger> Pinger::simplePingWithHostName(const std::string& hostName, platform::IcmpProvider& provider)
{
    return std::make_unique<Pinger>(hostName, std::nullopt, provider);
}

std::unique_ptr<Pinger> Pinger::simplePingWithHostAddress(const Bytes& hostAddress, platform::IcmpProvider& provider)
{
    return std::make_unique<Pinger>(std::nullopt, hostAddress, provider);
}

Pinger::Pinger(std::optional<std::string> hostName, std::optional<Bytes> hostAddress, platform::IcmpProvider& provider)
    : m_hostName(std::move(hostName)), m_hostAddress(std::move(hostAddress)), m_provider(provider),
      m_identifier(randomIdentifier())
{
    assert(m_hostName.has_value() != m_hostAddress.has_value());
}

Pinger::~Pinger() { stop(); }

void Pinger::start()
{
    if (m_hostAddress) {
        startWithHostAddress();
        return;
    }
    m_resolution = m_provider.resolve(*m_hostName, [this](const std::vector<Bytes>& addresses, int error) {
        hostResolutionDone(addresses, error);
    });
}

void Pinger::hostResolutionDone(const std::vector<Bytes>& addresses, int error)
{
    m_resolution.reset();
    if (error != 0) {
        didFailWithError(Error::make(kHostErrorDomain, kHostErrorUnknown, "unknown host error",
                                     {{kGetAddrInfoFailureKey, std::to_string(error)}}));
        return;
    }
    for (const auto& address : addresses) {
        if (isIpv4(address)) {
            m_hostAddress = address;
            startWithHostAddress();
            return;
        }
    }
    didFailWithError(Error::make(kHostErrorDomain, kHostErrorHostNotFound, "host not found"));
}

void Pinger::startWithHostAddress()
{
    // Only IPv4 echo is spoken; an IPv6 or other address is refused here.
    if (!isIpv4(*m_hostAddress)) {
        didFailWithError(posixError(EPROTONOSUPPORT));
        return;
    }
    int error = 0;
    m_socket = m_provider.open(m_identifier, error);
    if (!m_socket) {
        didFailWithError(posixError(error != 0 ? error : EPROTONOSUPPORT));
        return;
    }
    // Replies carry the identifier the socket holds, which is not the one drawn when that one was taken.
    m_identifier = m_socket->identifier();
    m_socket->startReading([this](const Bytes& datagram, long result, int readError) {
        readCallback(datagram, result, readError);
    });
    if (m_delegate) m_delegate->simplePingDidStartWithAddress(this, *m_hostAddress);
}

Pinger::Bytes Pinger::defaultPayload(std::uint16_t sequenceNumber)
{
    char text[64];
    const int length = std::snprintf(text, sizeof text, "%28d bottles of beer on the wall", 99 - sequenceNumber % 100);
    return Bytes(text, text + length);
}

void Pinger::sendPingWithData(const std::optional<Bytes>& data)
{
    const Bytes payload = data ? *data : defaultPayload(m_nextSequenceNumber);
    Bytes packet(kIcmpHeaderSize);
    packet[0] = kEchoRequest;
    packet[1] = 0;
    packet[4] = static_cast<std::uint8_t>(m_identifier >> 8);
    packet[5] = static_cast<std::uint8_t>(m_identifier);
    packet[6] = static_cast<std::uint8_t>(m_nextSequenceNumber >> 8);
    packet[7] = static_cast<std::uint8_t>(m_nextSequenceNumber);
    packet.insert(packet.end(), payload.begin(), payload.end());
    const auto sum = checksum(packet.data(), packet.size());
    std::memcpy(&packet[2], &sum, sizeof sum);

    int error = 0;
    long sent = -1;
    if (!m_socket) {
        error = EBADF;
    } else {
        const auto* address = reinterpret_cast<const sockaddr*>(m_hostAddress->data());
        sent = m_socket->sendTo(packet.data(), packet.size(), address, static_cast<socklen_t>(m_hostAddress->size()),
                                error);
        if (sent >= 0) error = 0;
    }
    if (sent > 0 && static_cast<std::size_t>(sent) == packet.size()) {
        if (m_delegate) m_delegate->simplePingDidSendPacket(this, packet);
    } else if (m_delegate) {
        m_delegate->simplePingDidFailToSendPacket(this, packet, posixError(error != 0 ? error : ENOBUFS));
    }
    ++m_nextSequenceNumber;
}

void Pinger::readCallback(const Bytes& datagram, long result, int error)
{
    if (result <= 0) {
        didFailWithError(posixError(error != 0 ? error : EPIPE));
        return;
    }
    if (!m_delegate) return;
    if (isValidPingResponsePacket(datagram))
        m_delegate->simplePingDidReceivePingResponsePacket(this, datagram);
    else
        m_delegate->simplePingDidReceiveUnexpectedPacket(this, datagram);
}

void Pinger::didFailWithError(const Error& error)
{
    stop();
    // Last: the delegate may destroy the pinger.
    if (m_delegate) m_delegate->simplePingDidFailWithError(this, error);
}

void Pinger::stop()
{
    m_resolution.reset();
    m_socket.reset();
    if (m_hostName) m_hostAddress.reset();
}

std::optional<std::size_t> Pinger::icmpHeaderOffsetInPacket(const Bytes& packet)
{
    if (packet.size() < kMinimalIpv4HeaderSize + kIcmpHeaderSize) return std::nullopt;
    const std::size_t offset = (packet[0] & 0x0F) * 4u;
    if (packet.size() < offset + kIcmpHeaderSize) return std::nullopt;
    return offset;
}

std::optional<ICMPHeader> Pinger::icmpInPacket(const Bytes& packet)
{
    const auto offset = icmpHeaderOffsetInPacket(packet);
    if (!offset) return std::nullopt;
    const auto* bytes = packet.data() + *offset;
    ICMPHeader header;
    header.type = bytes[0];
    header.code = bytes[1];
    std::memcpy(&header.checksum, bytes + 2, sizeof header.checksum);
    header.identifier = readBigEndian(bytes + 4);
    header.sequenceNumber = readBigEndian(bytes + 6);
    return header;
}

bool Pinger::isValidPingResponsePacket(const Bytes& packet) const
{
    const auto offset = icmpHeaderOffsetInPacket(packet);
    if (!offset) return false;
    const auto header = icmpInPacket(packet);
    Bytes icmp(packet.begin() + static_cast<long>(*offset), packet.end());
    icmp[2] = icmp[3] = 0;
    if (checksum(icmp.data(), icmp.size()) != header->checksum) return false;
    return header->type == kEchoReply && header->code == 0 && header->identifier == m_identifier &&
           header->sequenceNumber < m_nextSequenceNumber;
}

std::uint16_t Pinger::checksum(const std::uint8_t* data, std::size_t size)
{
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < size; i += 2) {
        std::uint16_t word;
        std::memcpy(&word, data + i, sizeof word);
        sum += word;
    }
    if (i < size) {
        const std::uint8_t last[2] = {data[i], 0};
        std::uint16_t word;
        std::memcpy(&word, last, sizeof word);
        sum += word;
    }
    sum = (sum >> 16) + (sum & 0xFFFF);
    sum += sum >> 16;
    return static_cast<std::uint16_t>(~sum);
}
