#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/image/BitmapImageRep.h"

namespace platform {

// Windows and OS/2 bitmaps: 1, 4 and 8 bits through a colour table (also run-length coded at 4 and 8
// bits), 16, 24 and 32 bits directly or through bit masks. Every size and offset is checked against the
// data before it is used; a bitmap whose pixels the data does not hold is refused, not padded.
class BMPReader {
public:
    // A whole ".bmp" file.
    static std::optional<BitmapImageRep> decode(const std::uint8_t* data, std::size_t size, std::string& reason);
    // A bitmap without its file header, as an icon holds it: the colour table follows the header, the
    // pixels the table; its height counts the colour rows and the transparency mask's rows together.
    static std::optional<BitmapImageRep> decodeIconBitmap(const std::uint8_t* data, std::size_t size, std::string& reason);
};

}  // namespace platform
