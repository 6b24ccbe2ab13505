#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/plist/BinaryPlistLayout.h"
#include "platform/plist/PlistValue.h"

namespace platform {

// Builds the value of a binary property list straight from its bytes. Each element is found through the
// offset table in one step, so a read costs what the parsed tree holds; `steps()` counts that work (one
// step per object read, per reference followed and per text unit converted) for callers that check it.
// Expects bytes that passed PlistInputGuard::checkBinary: it relies on its bounds on nesting, cycles,
// dictionary keys and the expanded size.
class BinaryPlistReader {
public:
    BinaryPlistReader(const std::uint8_t* data, std::size_t size) : layout_(data, size) {}

    // The value, or nothing with the reason in `why`.
    std::optional<PlistValue> read(std::string& why);
    std::uint64_t steps() const { return steps_; }

private:
    std::optional<PlistValue> readObject(std::uint64_t index, int depth, std::string& why);
    std::optional<std::string> readText(std::uint64_t index, std::string& why);
    std::string textOf(const BinaryPlistLayout::Object& object);

    BinaryPlistLayout layout_;
    std::uint64_t steps_ = 0;
};

}  // namespace platform
