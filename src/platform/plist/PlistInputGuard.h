#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Checks untrusted property-list bytes before the parser sees them. The parser recurses once per nesting
// level and copies an object each time it is referenced, so a small hostile file could exhaust the stack
// or memory; these checks bound nesting, references and the expanded size, and reject a broken layout.
// The check itself costs what the file holds: each object is read and judged once, however often it is
// referred to, and the walk stops as soon as what it has charged passes the bound.
class PlistInputGuard {
public:
    static constexpr std::size_t kMaxInputBytes = 32u << 20;
    static constexpr int kMaxDepth = 256;
    // What the parsed tree may cost in memory, counting each node with its heap blocks as often as it is
    // referenced.
    static constexpr std::uint64_t kMaxExpandedBytes = 512u << 20;

    // What a binary check found, for callers that weigh it.
    struct Tally {
        // What the parsed tree is charged (on success).
        std::uint64_t expandedCost = 0;
        // The check's own work, refused or not: one step per object read, per reference followed and per
        // byte of a key's text judged.
        std::uint64_t steps = 0;
    };

    // Empty when the binary layout is sound, otherwise why it is not.
    static std::string checkBinary(const std::uint8_t* data, std::size_t size, Tally* tally = nullptr);
    // Empty when the nesting of an XML property list stays within the limit, otherwise why it does not.
    static std::string checkXml(const std::uint8_t* data, std::size_t size);
};

}  // namespace platform
