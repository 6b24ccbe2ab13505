#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/icmp/IcmpSocket.h"

namespace platform {

// A provider whose sockets and name lookups the test drives by hand, all on the main thread.
class FakeIcmpProvider final : public IcmpProvider {
public:
    struct Sent {
        std::vector<std::uint8_t> packet;
        std::vector<std::uint8_t> address;
    };

    std::unique_ptr<IcmpSocket> open(std::uint16_t identifier, int& error) override;
    std::shared_ptr<void> resolve(const std::string& hostName, ResolveCallback callback) override;

    // What open() answers: 0 opens a socket, anything else fails with that errno value.
    int openError = 0;
    // The identifier the socket reports, as a system does when the one asked for is taken; nothing: the one asked for.
    std::optional<std::uint16_t> givenIdentifier;
    // The next sends answer this result (and errno value) instead of sending the whole packet.
    std::optional<long> sendResult;
    int sendError = 0;

    // Everything sent through any open socket, in order.
    std::vector<Sent> sent;
    bool socketOpen() const { return m_reader != nullptr || m_open; }
    std::uint16_t boundIdentifier = 0;
    // Hands a datagram (or a read failure) to the open socket's reader.
    void deliver(const std::vector<std::uint8_t>& datagram);
    void failRead(long result, int error);

    // Lookups waiting for an answer, by name; answer() completes the oldest one.
    std::vector<std::string> pendingLookups() const;
    void answer(const std::vector<std::vector<std::uint8_t>>& addresses, int error = 0);

private:
    friend class FakeIcmpSocket;
    IcmpSocket::ReadCallback* m_reader = nullptr;
    bool m_open = false;
    struct Lookup {
        std::string name;
        std::weak_ptr<void> token;
        ResolveCallback callback;
    };
    std::vector<Lookup> m_lookups;
};

}  // namespace platform
