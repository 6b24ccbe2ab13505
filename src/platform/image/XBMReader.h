#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/image/BitmapImageRep.h"

namespace platform {

// X bitmaps: C source with "#define <name>_width" and "_height" and a "<name>_bits" array of bytes
// (or of 16-bit words, the X10 form), each row's bits lowest first. Set bits are opaque black, clear
// bits transparent.
class XBMReader {
public:
    // Whether the data starts as an X bitmap does: space and comments, then "#define".
    static bool looksLikeXBM(const std::uint8_t* data, std::size_t size);
    static std::optional<BitmapImageRep> decode(const std::uint8_t* data, std::size_t size, std::string& reason);
};

}  // namespace platform
