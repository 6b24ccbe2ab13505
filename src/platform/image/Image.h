#pragma once

#include <vector>

#include "platform/image/BitmapImageRep.h"

namespace platform {

// An image as an interface shows it: a size in points and the representations that draw it.
struct Image {
    struct Size {
        double width = 0;
        double height = 0;
    };
    Size size;
    std::vector<BitmapImageRep> representations;
};

}  // namespace platform
