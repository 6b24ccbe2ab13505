#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// Checks and measures UTF-8 text. A text's length in UTF-8 bytes is simply its size().
class Utf8 {
public:
    // True for well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no cut-off
    // sequence.
    static bool isValid(std::string_view text);
    // True when every character takes one byte (7-bit ASCII).
    static bool isAscii(std::string_view text);
    // The number of UTF-16 code units the text takes (characters above U+FFFF count two). Each byte of
    // an ill-formed sequence counts as one unit, as its replacement character would.
    static std::size_t utf16Length(std::string_view text);
    // Appends `codePoint` in UTF-8's form of one to four bytes. A surrogate gets its three bytes, which
    // are no well-formed UTF-8: callers that keep a lone one that way make it refused downstream.
    static void append(std::string& out, std::uint32_t codePoint);
};

}  // namespace platform
