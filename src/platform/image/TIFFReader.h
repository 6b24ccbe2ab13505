#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/image/BitmapImageRep.h"

namespace platform {

// The first image of a TIFF file through libtiff, read from memory, in any layout and colour model
// libtiff's RGBA reader takes.
class TIFFReader {
public:
    static std::optional<BitmapImageRep> decode(const std::uint8_t* data, std::size_t size, std::string& reason);
};

}  // namespace platform
