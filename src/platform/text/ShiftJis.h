#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Shift-JIS as the Japanese desktop writes it (code page 932), converted through iconv. A character
// that has no form on the other side fails the whole conversion: nothing is dropped or replaced.
class ShiftJis {
public:
    // Nothing when the text is not valid UTF-8 or holds a character Shift-JIS cannot encode.
    static std::optional<std::vector<std::uint8_t>> encode(std::string_view utf8);
    // Nothing when the bytes are not well-formed Shift-JIS (including a cut-off double-byte character).
    static std::optional<std::string> decode(const std::uint8_t* bytes, std::size_t size);
    static std::optional<std::string> decode(const std::vector<std::uint8_t>& bytes)
    {
        return decode(bytes.data(), bytes.size());
    }
};

}  // namespace platform
