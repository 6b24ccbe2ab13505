#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Conversions between UTF-8 and the character sets named by their IANA names ("UTF-8", "ISO-8859-1",
// "Shift_JIS"...), through iconv. Nothing is ever replaced or dropped: a byte sequence that is not valid
// in its character set, or a character the target cannot hold, fails the whole conversion.
class TextEncoding {
public:
    static std::optional<std::vector<std::uint8_t>> encode(std::string_view utf8, const std::string& charset);
    static std::optional<std::string> decode(const std::uint8_t* bytes, std::size_t size, const std::string& charset);
    static std::optional<std::string> decode(const std::vector<std::uint8_t>& bytes, const std::string& charset)
    {
        return decode(bytes.data(), bytes.size(), charset);
    }
    // True when the conversion layer knows the name.
    static bool isKnown(const std::string& charset);
};

}  // namespace platform
