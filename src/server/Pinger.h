#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/error/Error.h"
#include "platform/icmp/IcmpSocket.h"

class Pinger;

// What a pinger reports; every method is optional. Packets are passed whole, IPv4 header included.
class PingerDelegate {
public:
    using Bytes = std::vector<std::uint8_t>;
    virtual ~PingerDelegate() = default;
    virtual void simplePingDidStartWithAddress(Pinger* pinger, const Bytes& address) { (void)pinger, (void)address; }
    virtual void simplePingDidFailWithError(Pinger* pinger, const platform::Error& error) { (void)pinger, (void)error; }
    virtual void simplePingDidSendPacket(Pinger* pinger, const Bytes& packet) { (void)pinger, (void)packet; }
    virtual void simplePingDidFailToSendPacket(Pinger* pinger, const Bytes& packet, const platform::Error& error)
    {
        (void)pinger, (void)packet, (void)error;
    }
    virtual void simplePingDidReceivePingResponsePacket(Pinger* pinger, const Bytes& packet)
    {
        (void)pinger, (void)packet;
    }
    virtual void simplePingDidReceiveUnexpectedPacket(Pinger* pinger, const Bytes& packet)
    {
        (void)pinger, (void)packet;
    }
};

// The 8-byte ICMP echo header, fields in host order once read from a packet.
struct ICMPHeader {
    std::uint8_t type = 0;
    std::uint8_t code = 0;
    std::uint16_t checksum = 0;  // as stored in memory, like the sum that checks it
    std::uint16_t identifier = 0;
    std::uint16_t sequenceNumber = 0;
};

// Sends ICMP echo requests to one IPv4 host and reports replies to its delegate. Everything but sending
// happens on the main queue, where the provider delivers lookups and datagrams.
class Pinger {
public:
    using Bytes = std::vector<std::uint8_t>;
    static constexpr const char* kPosixErrorDomain = "NSPOSIXErrorDomain";
    static constexpr const char* kHostErrorDomain = "HostResolutionErrorDomain";
    static constexpr const char* kGetAddrInfoFailureKey = "GetAddrInfoFailure";
    static constexpr std::int64_t kHostErrorHostNotFound = 1;
    static constexpr std::int64_t kHostErrorUnknown = 2;

    static std::unique_ptr<Pinger> simplePingWithHostName(const std::string& hostName, platform::IcmpProvider& provider);
    static std::unique_ptr<Pinger> simplePingWithHostAddress(const Bytes& hostAddress, platform::IcmpProvider& provider);
    // Exactly one of the two is given.
    Pinger(std::optional<std::string> hostName, std::optional<Bytes> hostAddress, platform::IcmpProvider& provider);
    ~Pinger();
    Pinger(const Pinger&) = delete;
    Pinger& operator=(const Pinger&) = delete;

    const std::optional<std::string>& hostName() const { return m_hostName; }
    const std::optional<Bytes>& hostAddress() const { return m_hostAddress; }
    PingerDelegate* delegate() const { return m_delegate; }
    void setDelegate(PingerDelegate* delegate) { m_delegate = delegate; }
    // Drawn at random (never 0) at creation; from start on, the one the socket got.
    std::uint16_t identifier() const { return m_identifier; }
    std::uint16_t nextSequenceNumber() const { return m_nextSequenceNumber; }

    void start();
    void sendPingWithData(const std::optional<Bytes>& data);
    void stop();

    static std::optional<std::size_t> icmpHeaderOffsetInPacket(const Bytes& packet);
    static std::optional<ICMPHeader> icmpInPacket(const Bytes& packet);
    bool isValidPingResponsePacket(const Bytes& packet) const;
    // The Internet checksum (RFC 1071): 16-bit words in memory order, one's complement of the folded sum.
    static std::uint16_t checksum(const std::uint8_t* data, std::size_t size);
    // The payload sent when none is given: 56 bytes that count down with the sequence number.
    static Bytes defaultPayload(std::uint16_t sequenceNumber);

private:
    void startWithHostAddress();
    void hostResolutionDone(const std::vector<Bytes>& addresses, int error);
    void readCallback(const Bytes& datagram, long result, int error);
    void didFailWithError(const platform::Error& error);

    std::optional<std::string> m_hostName;
    std::optional<Bytes> m_hostAddress;
    platform::IcmpProvider& m_provider;
    PingerDelegate* m_delegate = nullptr;
    std::uint16_t m_identifier;
    std::uint16_t m_nextSequenceNumber = 0;
    std::shared_ptr<void> m_resolution;
    std::unique_ptr<platform::IcmpSocket> m_socket;
};
