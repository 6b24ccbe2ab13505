#pragma once

// Small GIF, TIFF, BMP, icon and X bitmap files of a known picture, for the image readers' tests and the
// fuzzers' seeds. The picture: pixel (x, y) is red x * 16, green y * 16, blue 0x80, opaque; the formats
// with a colour table draw it from the four colours of kQuad instead, index (x + 2y) % 4.

#include <gif_lib.h>
#include <tiffio.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "common/Bytes.h"
#include "support/image/ImageMaker.h"

namespace imagemaker {

inline std::array<std::uint8_t, 4> pictureAt(std::uint32_t x, std::uint32_t y)
{
    return {static_cast<std::uint8_t>(x * 16), static_cast<std::uint8_t>(y * 16), 0x80, 0xFF};
}

inline const std::array<std::array<std::uint8_t, 3>, 4> kQuad = {{{0xFF, 0, 0}, {0, 0xFF, 0}, {0, 0, 0xFF}, {0xFF, 0xFF, 0xFF}}};
inline std::uint8_t quadIndexAt(std::uint32_t x, std::uint32_t y) { return static_cast<std::uint8_t>((x + 2 * y) % 4); }

inline void putLE(Bytes& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}
// Each value in turn, little-endian, in the given number of bytes.
inline void putFields(Bytes& out, std::initializer_list<std::pair<std::uint32_t, int>> fields)
{
    for (const auto& [value, bytes] : fields) putLE(out, value, bytes);
}

// A GIF of the four-colour picture on a screen of its size; index `transparent` (or none, -1) is
// transparent, and the rows go interlaced when asked.
inline Bytes gif(std::uint32_t width, std::uint32_t height, bool interlaced = false, int transparent = -1)
{
    Bytes out;
    int error = 0;
    GifFileType* file = EGifOpen(&out, [](GifFileType* g, const GifByteType* data, int length) {
        auto* target = static_cast<Bytes*>(g->UserData);
        target->insert(target->end(), data, data + length);
        return length;
    }, &error);
    GifColorType colours[4];
    for (int i = 0; i < 4; ++i) colours[i] = {kQuad[i][0], kQuad[i][1], kQuad[i][2]};
    ColorMapObject* map = GifMakeMapObject(4, colours);
    EGifSetGifVersion(file, true);
    EGifPutScreenDesc(file, static_cast<int>(width), static_cast<int>(height), 8, 0, map);
    if (transparent >= 0) {
        GraphicsControlBlock control{};
        control.TransparentColor = transparent;
        GifByteType extension[4];
        EGifGCBToExtension(&control, extension);
        EGifPutExtension(file, GRAPHICS_EXT_FUNC_CODE, 4, extension);
    }
    EGifPutImageDesc(file, 0, 0, static_cast<int>(width), static_cast<int>(height), interlaced, nullptr);
    std::vector<std::uint32_t> order;
    if (interlaced) {
        for (auto [start, step] : {std::pair{0u, 8u}, {4u, 8u}, {2u, 4u}, {1u, 2u}})
            for (std::uint32_t y = start; y < height; y += step) order.push_back(y);
    } else {
        for (std::uint32_t y = 0; y < height; ++y) order.push_back(y);
    }
    std::vector<GifPixelType> line(width);
    for (std::uint32_t y : order) {
        for (std::uint32_t x = 0; x < width; ++x) line[x] = quadIndexAt(x, y);
        EGifPutLine(file, line.data(), static_cast<int>(width));
    }
    EGifCloseFile(file, &error);
    GifFreeMapObject(map);
    return out;
}

// A TIFF of the picture, RGB in strips of two rows, compressed with `compression` (COMPRESSION_*).
inline Bytes tiff(std::uint32_t width, std::uint32_t height, std::uint16_t compression = COMPRESSION_NONE)
{
    char path[] = "/tmp/rig-tiff-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) return {};
    ::close(fd);
    TIFF* file = TIFFOpen(path, "w");
    for (const auto& [tag, value] : {std::pair<std::uint32_t, std::uint32_t>{TIFFTAG_IMAGEWIDTH, width}, {TIFFTAG_IMAGELENGTH, height},
                                    {TIFFTAG_SAMPLESPERPIXEL, 3}, {TIFFTAG_BITSPERSAMPLE, 8}, {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB},
                                    {TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG}, {TIFFTAG_ROWSPERSTRIP, 2}, {TIFFTAG_COMPRESSION, compression}})
        TIFFSetField(file, tag, value);
    std::vector<std::uint8_t> row(width * 3);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const auto p = pictureAt(x, y);
            row[x * 3] = p[0], row[x * 3 + 1] = p[1], row[x * 3 + 2] = p[2];
        }
        TIFFWriteScanline(file, row.data(), y, 0);
    }
    TIFFClose(file);
    std::ifstream in(path, std::ios::binary);
    Bytes out((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path);
    return out;
}

// The bitmap part of a BMP or an icon: a 40-byte header, the table, the rows (bottom row first unless
// `topDown`). 24 and 32 bits carry the picture (32 with alpha 0x80 in its fourth byte); 1, 4 and 8 bits
// the four-colour picture through a table of those colours.
inline Bytes dib(std::uint32_t width, std::uint32_t height, std::uint16_t bits, bool topDown = false, std::uint32_t storedHeight = 0)
{
    Bytes out;
    const bool indexed = bits <= 8;
    const std::uint32_t written = topDown ? static_cast<std::uint32_t>(-static_cast<std::int32_t>(height)) : (storedHeight ? storedHeight : height);
    putFields(out, {{40, 4}, {width, 4}, {written, 4}, {1, 2}, {bits, 2}, {0, 4}, {0, 4}, {2835, 4}, {2835, 4}, {indexed ? 4u : 0u, 4}, {0, 4}});
    if (indexed)
        for (const auto& c : kQuad) out.insert(out.end(), {c[2], c[1], c[0], 0});
    const std::size_t stride = (width * bits + 31) / 32 * 4;
    for (std::uint32_t i = 0; i < height; ++i) {
        const std::uint32_t y = topDown ? i : height - 1 - i;
        Bytes row(stride, 0);
        for (std::uint32_t x = 0; x < width; ++x) {
            if (indexed) {
                const std::uint32_t bit = x * bits;
                const unsigned index = quadIndexAt(x, y) % (1u << bits);
                row[bit / 8] = static_cast<std::uint8_t>(row[bit / 8] | index << (8 - bits - bit % 8));
                continue;
            }
            const auto p = pictureAt(x, y);
            const std::size_t at = x * (bits / 8);
            row[at] = p[2], row[at + 1] = p[1], row[at + 2] = p[0];
            if (bits == 32) row[at + 3] = 0x80;
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

inline Bytes bmp(std::uint32_t width, std::uint32_t height, std::uint16_t bits, bool topDown = false)
{
    const Bytes body = dib(width, height, bits, topDown);
    const std::uint32_t table = bits <= 8 ? 16 : 0;
    Bytes out{'B', 'M'};
    putFields(out, {{static_cast<std::uint32_t>(14 + body.size()), 4}, {0, 4}, {14 + 40 + table, 4}});
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// An icon of two images: a 4-bit bitmap with a mask that makes its first column transparent, and a PNG
// `pngSize` pixels square (none when 0).
inline Bytes ico(std::uint32_t width, std::uint32_t height, std::uint32_t pngSize = 0)
{
    Bytes bitmap = dib(width, height, 4, false, height * 2);
    const std::size_t maskStride = (width + 31) / 32 * 4;
    for (std::uint32_t y = 0; y < height; ++y) {
        Bytes row(maskStride, 0);
        row[0] = 0x80;
        bitmap.insert(bitmap.end(), row.begin(), row.end());
    }
    const Bytes picture = pngSize ? png(pngSize, pngSize) : Bytes();
    const std::uint16_t count = pngSize ? 2 : 1;
    Bytes out;
    putFields(out, {{0, 2}, {1, 2}, {count, 2}});
    std::uint32_t offset = 6 + 16u * count;
    auto entry = [&](std::uint32_t w, std::uint32_t h, std::uint16_t bits, const Bytes& image) {
        out.insert(out.end(), {static_cast<std::uint8_t>(w & 0xFF), static_cast<std::uint8_t>(h & 0xFF), 0, 0});
        putFields(out, {{1, 2}, {bits, 2}, {static_cast<std::uint32_t>(image.size()), 4}, {offset, 4}});
        offset += static_cast<std::uint32_t>(image.size());
    };
    entry(width, height, 4, bitmap);
    if (pngSize) entry(pngSize, pngSize, 32, picture);
    out.insert(out.end(), bitmap.begin(), bitmap.end());
    out.insert(out.end(), picture.begin(), picture.end());
    return out;
}

// An X bitmap whose set bits form a diagonal (x == y) and the last column.
inline std::string xbm(std::uint32_t width, std::uint32_t height)
{
    std::string text = "/* made by the tests */\n#define pic_width " + std::to_string(width) + "\n#define pic_height " +
                       std::to_string(height) + "\nstatic unsigned char pic_bits[] = {\n";
    const std::uint32_t perRow = (width + 7) / 8;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t b = 0; b < perRow; ++b) {
            unsigned value = 0;
            for (std::uint32_t bit = 0; bit < 8; ++bit) {
                const std::uint32_t x = b * 8 + bit;
                if (x < width && (x == y || x == width - 1)) value |= 1u << bit;
            }
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02x", value);
            text += std::string(hex) + (y + 1 == height && b + 1 == perRow ? "" : ", ");
        }
    }
    return text + "};\n";
}

}  // namespace imagemaker
