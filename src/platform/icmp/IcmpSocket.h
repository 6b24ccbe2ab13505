#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// An ICMP datagram socket for IPv4 echo. Received datagrams are handed over whole, IPv4 header first.
class IcmpSocket {
public:
    // (datagram, result of the read: its size, or 0 or less on failure, errno value when one was set)
    using ReadCallback = std::function<void(const std::vector<std::uint8_t>& datagram, long result, int error)>;

    virtual ~IcmpSocket() = default;
    // The echo identifier this socket's requests and replies carry: the one asked for, or the one the
    // system gave it when that one was taken.
    virtual std::uint16_t identifier() const = 0;
    // Bytes sent, or -1 with `error` set.
    virtual long sendTo(const std::uint8_t* data, std::size_t size, const sockaddr* address, socklen_t length,
                        int& error) = 0;
    // Starts reading; each datagram (or failure) reaches `callback` on the main queue until the socket closes.
    virtual void startReading(ReadCallback callback) = 0;
};

// Opens ICMP sockets and resolves host names; results arrive on the main queue.
class IcmpProvider {
public:
    // (addresses as socket address bytes, getaddrinfo's error code or 0)
    using ResolveCallback = std::function<void(const std::vector<std::vector<std::uint8_t>>& addresses, int error)>;

    virtual ~IcmpProvider() = default;
    // An IPv4 echo socket whose requests and replies carry `identifier` where it can (see
    // IcmpSocket::identifier); nullptr with `error` set on failure.
    virtual std::unique_ptr<IcmpSocket> open(std::uint16_t identifier, int& error) = 0;
    // Starts resolving; the callback runs once unless the returned token is released first.
    virtual std::shared_ptr<void> resolve(const std::string& hostName, ResolveCallback callback) = 0;
};

}  // namespace platform
