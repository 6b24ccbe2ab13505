#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "common/Bytes.h"

// A picture as 8-bit RGBA pixels, row by row from the top, with its TIFF form: the form pictures take
// inside the items' keyed archives.
class BitmapImage {
public:
    // Larger pictures are refused when read back: an effect icon is a few dozen pixels wide.
    static constexpr std::uint32_t kMaxSide = 4096;

    BitmapImage() = default;
    // Nothing when the pixel count does not match the size or a side is 0 or above kMaxSide.
    static std::optional<BitmapImage> make(std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t> rgba);

    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }
    const std::vector<std::uint8_t>& rgba() const { return rgba_; }

    // A baseline TIFF: one uncompressed strip of RGBA with unassociated alpha, little-endian.
    Bytes TIFFRepresentation() const;
    // Reads uncompressed 8-bit RGB or RGBA TIFF in either byte order, the kind TIFFRepresentation writes;
    // nothing for any other kind, and for any offset or size outside the data.
    static std::optional<BitmapImage> imageWithTIFFData(const Bytes& data);

    bool operator==(const BitmapImage&) const = default;

private:
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    std::vector<std::uint8_t> rgba_;
};
