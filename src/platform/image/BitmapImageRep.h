#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/error/Error.h"

namespace platform {

// A decoded raster image: 8-bit RGBA pixels, rows top to bottom. PNG goes through libpng, JPEG through
// libjpeg, GIF through giflib and TIFF through libtiff; BMP, icons (ICO, CUR) and X bitmaps are read
// here. Other formats, broken data and images beyond the pixel bound decode to nothing.
class BitmapImageRep {
public:
    static constexpr const char* kErrorDomain = "org.pexo.rigmora.image";
    static constexpr std::uint64_t kMaxPixels = 64u << 20;

    static std::optional<BitmapImageRep> imageRepWithData(const std::uint8_t* data, std::size_t size, Error* error = nullptr);
    // Whether an image of that size may be decoded: not empty and within the pixel bound.
    static bool fits(std::uint64_t width, std::uint64_t height)
    {
        return width > 0 && height > 0 && width <= kMaxPixels && height <= kMaxPixels && width * height <= kMaxPixels;
    }
    // Decoded pixels (width x height x 4 bytes of RGBA, rows top to bottom); nothing when they do not fit.
    static std::optional<BitmapImageRep> withPixels(std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t> rgba);
    // PNG alone (icons hold PNG images too).
    static std::optional<BitmapImageRep> decodePNG(const std::uint8_t* data, std::size_t size, std::string& reason);

    std::uint32_t pixelsWide() const { return m_width; }
    std::uint32_t pixelsHigh() const { return m_height; }
    const std::vector<std::uint8_t>& bitmapData() const { return m_pixels; }

private:
    BitmapImageRep(std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t> pixels)
        : m_width(width), m_height(height), m_pixels(std::move(pixels))
    {
    }
    static std::optional<BitmapImageRep> decodeJPEG(const std::uint8_t* data, std::size_t size, std::string& reason);

    std::uint32_t m_width;
    std::uint32_t m_height;
    std::vector<std::uint8_t> m_pixels;
};

}  // namespace platform
