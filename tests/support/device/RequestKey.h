#pragma once

#include <compare>
#include <cstdint>
#include <optional>

#include "common/Bytes.h"

namespace sim {

// What a request asks for, as the simulated device dispatches it: the manufacturer byte, the function code
// and, for the file system (function 0x60) and universal messages, the byte after it.
struct RequestKey {
    std::uint8_t manufacturer = 0;
    std::uint8_t function = 0;
    std::uint8_t sub = 0;

    auto operator<=>(const RequestKey&) const = default;

    static constexpr std::uint8_t kUniversal = 0x7E;
    static constexpr std::uint8_t kMaker = 0x7D;
    static constexpr std::uint8_t kFileSystem = 0x60;

    static constexpr RequestKey identity() { return {kUniversal, 0x06, 0x01}; }
    static constexpr RequestKey maker(std::uint8_t function) { return {kMaker, function, 0}; }
    static constexpr RequestKey fileSystem(std::uint8_t sub) { return {kMaker, kFileSystem, sub}; }

    // The key of a whole message (F0 .. F7), or nothing for what is no request.
    static std::optional<RequestKey> of(const Bytes& message)
    {
        if (message.size() < 6 || message.front() != 0xF0 || message.back() != 0xF7) return std::nullopt;
        if (message[1] == kUniversal) return RequestKey{kUniversal, message[3], message[4]};
        if (message[1] != kMaker) return std::nullopt;
        if (message[4] == kFileSystem) return fileSystem(message.size() > 6 ? message[5] : 0);
        return maker(message[4]);
    }
};

}  // namespace sim
