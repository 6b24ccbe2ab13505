#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/image/BitmapImageRep.h"

namespace platform {

// The first image of a GIF file through giflib, placed on the file's logical screen: the screen's
// pixels that image leaves uncovered, and its transparent colour, stay transparent.
class GIFReader {
public:
    static std::optional<BitmapImageRep> decode(const std::uint8_t* data, std::size_t size, std::string& reason);
};

}  // namespace platform
