#pragma once

// Small PNG and JPEG files of a given size, for the image readers' tests and the fuzzers' seeds.

#include <png.h>
#include <jpeglib.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/Bytes.h"

namespace imagemaker {

// A PNG of the given RGBA pixels, row by row from the top; without them, of one grey.
inline Bytes png(std::uint32_t width, std::uint32_t height, const std::vector<std::uint8_t>& rgba)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_RGBA;
    if (rgba.size() != PNG_IMAGE_SIZE(image)) return {};
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, rgba.data(), 0, nullptr);
    Bytes out(size);
    png_image_write_to_memory(&image, out.data(), &size, 0, rgba.data(), 0, nullptr);
    out.resize(size);
    return out;
}
inline Bytes png(std::uint32_t width, std::uint32_t height) { return png(width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 4, 0x7F)); }

// The same PNG as text, as a test server answers it.
inline std::string pngText(std::uint32_t width, std::uint32_t height)
{
    const Bytes bytes = png(width, height);
    return std::string(bytes.begin(), bytes.end());
}

// A 1x1 PNG whose header declares another size (its checksum made to match), as a hostile server sends.
inline Bytes pngDeclaring(std::uint32_t width, std::uint32_t height)
{
    Bytes out = png(1, 1);
    // The signature, then the header chunk: length, "IHDR", width, height at bytes 16 and 20.
    for (int i = 0; i < 4; ++i) {
        out[16 + i] = static_cast<std::uint8_t>(width >> (24 - 8 * i));
        out[20 + i] = static_cast<std::uint8_t>(height >> (24 - 8 * i));
    }
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 12; i < 29; ++i) {
        crc ^= out[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc ^= 0xFFFFFFFFu;
    for (int i = 0; i < 4; ++i) out[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    return out;
}

inline Bytes jpeg(std::uint32_t width, std::uint32_t height)
{
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = width;
    info.image_height = height;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<std::uint8_t> row(width * 3, 0x40);
    while (info.next_scanline < height) {
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&info, &pointer, 1);
    }
    jpeg_finish_compress(&info);
    Bytes out(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return out;
}

}  // namespace imagemaker
