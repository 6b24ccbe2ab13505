#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/error/Error.h"

namespace platform {

// A decoded raster image: 8-bit RGBA pixels, rows top to bottom. PNG goes through libpng and JPEG
// through libjpeg; other formats, broken data and images beyond the pixel bound decode to nothing.
class BitmapImageRep {
public:
    static constexpr const char* kErrorDomain = "org.pexo.rigmora.image";
    static constexpr std::uint64_t kMaxPixels = 64u << 20;

    static std::optional<BitmapImageRep> imageRepWithData(const std::uint8_t* data, std::size_t size, Error* error = nullptr);

    std::uint32_t pixelsWide() const { return m_width; }
    std::uint32_t pixelsHigh() const { return m_height; }
    const std::vector<std::uint8_t>& bitmapData() const { return m_pixels; }

private:
    BitmapImageRep(std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t> pixels)
        : m_width(width), m_height(height), m_pixels(std::move(pixels))
    {
    }
    static std::optional<BitmapImageRep> decodePNG(const std::uint8_t* data, std::size_t size, std::string& reason);
    static std::optional<BitmapImageRep> decodeJPEG(const std::uint8_t* data, std::size_t size, std::string& reason);

    std::uint32_t m_width;
    std::uint32_t m_height;
    std::vector<std::uint8_t> m_pixels;
};

}  // namespace platform
