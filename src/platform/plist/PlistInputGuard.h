#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Checks untrusted property-list bytes before the parser sees them. The parser recurses once per nesting
// level and copies an object each time it is referenced, so a small hostile file could exhaust the stack
// or memory; these checks bound nesting, references and the expanded size, and reject a broken layout.
class PlistInputGuard {
public:
    static constexpr std::size_t kMaxInputBytes = 32u << 20;
    static constexpr int kMaxDepth = 256;
    // What the parsed tree may cost in memory, counting each node with its heap blocks as often as it is
    // referenced.
    static constexpr std::uint64_t kMaxExpandedBytes = 512u << 20;

    // Empty when the binary layout is sound, otherwise why it is not. On success `expandedCost` receives
    // what the parsed tree is charged.
    static std::string checkBinary(const std::uint8_t* data, std::size_t size, std::uint64_t* expandedCost = nullptr);
    // Empty when the nesting of an XML property list stays within the limit, otherwise why it does not.
    static std::string checkXml(const std::uint8_t* data, std::size_t size);
};

}  // namespace platform
