#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/image/BitmapImageRep.h"

namespace platform {

// Icon and cursor files: of the images the directory lists, the largest (the deepest colour among
// equals) that decodes, whether it is held as PNG or as a bitmap with its transparency mask. Only the
// best few are tried, and together they may ask for no more pixels than one picture may have.
class ICOReader {
public:
    static std::optional<BitmapImageRep> decode(const std::uint8_t* data, std::size_t size, std::string& reason);
};

}  // namespace platform
