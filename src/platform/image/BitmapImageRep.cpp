#include "platform/image/BitmapImageRep.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <jpeglib.h>

#include "platform/image/BMPReader.h"
#include "platform/image/GIFReader.h"
#include "platform/image/ICOReader.h"
#include "platform/image/TIFFReader.h"
#include "platform/image/XBMReader.h"

namespace platform {
namespace {

struct JPEGFailure {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpegFail(j_common_ptr info)
{
    auto* failure = reinterpret_cast<JPEGFailure*>(info->err);
    info->err->format_message(info, failure->message);
    std::longjmp(failure->jump, 1);
}

void jpegWarn(j_common_ptr, int) {}

// Deflate codes at most 258 bytes in two bits, so a PNG's rows, filter bytes aside, are at most 1032 times
// its data. A file claiming more (a huge size over a cut or tiny stream) is refused before its pixels are
// made. The header was read and checked by libpng before this is asked.
bool pngDataCanFill(const std::uint8_t* data, std::size_t size)
{
    constexpr std::uint64_t kDeflateCeiling = 1032;
    constexpr std::size_t kHeaderEnd = 8 + 8 + 13;
    if (size < kHeaderEnd) return false;
    auto u32 = [](const std::uint8_t* p) {
        return std::uint64_t{p[0]} << 24 | std::uint64_t{p[1]} << 16 | std::uint64_t{p[2]} << 8 | std::uint64_t{p[3]};
    };
    const std::uint64_t width = u32(data + 16), height = u32(data + 20);
    const std::uint64_t depth = data[24];
    std::uint64_t channels = 1;
    switch (data[25]) {
    case 2: channels = 3; break;
    case 4: channels = 2; break;
    case 6: channels = 4; break;
    default: break;
    }
    const std::uint64_t rowBytes = (width * depth * channels + 7) / 8;
    return rowBytes * height <= std::uint64_t{size} * kDeflateCeiling;
}

}  // namespace

std::optional<BitmapImageRep> BitmapImageRep::imageRepWithData(const std::uint8_t* data, std::size_t size, Error* error)
{
    std::string reason = "The data is no image of a known type";
    std::optional<BitmapImageRep> rep;
    auto startsWith = [&](const char* signature, std::size_t length) {
        return size >= length && std::memcmp(data, signature, length) == 0;
    };
    if (size >= 8 && png_sig_cmp(data, 0, 8) == 0) rep = decodePNG(data, size, reason);
    else if (startsWith("\xFF\xD8\xFF", 3)) rep = decodeJPEG(data, size, reason);
    else if (startsWith("GIF87a", 6) || startsWith("GIF89a", 6)) rep = GIFReader::decode(data, size, reason);
    else if (startsWith("II*\0", 4) || startsWith("MM\0*", 4)) rep = TIFFReader::decode(data, size, reason);
    else if (startsWith("BM", 2)) rep = BMPReader::decode(data, size, reason);
    else if (startsWith("\0\0\1\0", 4) || startsWith("\0\0\2\0", 4)) rep = ICOReader::decode(data, size, reason);
    else if (XBMReader::looksLikeXBM(data, size)) rep = XBMReader::decode(data, size, reason);
    if (!rep && error) *error = Error::make(kErrorDomain, 1, reason);
    return rep;
}

std::optional<BitmapImageRep> BitmapImageRep::withPixels(std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t> rgba)
{
    if (!fits(width, height) || rgba.size() != std::size_t{width} * height * 4) return std::nullopt;
    return BitmapImageRep(width, height, std::move(rgba));
}

std::optional<BitmapImageRep> BitmapImageRep::decodePNG(const std::uint8_t* data, std::size_t size, std::string& reason)
{
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, size)) {
        reason = image.message;
        return std::nullopt;
    }
    if (image.width == 0 || image.height == 0 || std::uint64_t{image.width} * image.height > kMaxPixels) {
        png_image_free(&image);
        reason = "The image is larger than the decoder allows";
        return std::nullopt;
    }
    if (!pngDataCanFill(data, size)) {
        png_image_free(&image);
        reason = "The PNG image claims more pixels than its data can hold";
        return std::nullopt;
    }
    image.format = PNG_FORMAT_RGBA;
    std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        reason = image.message;
        png_image_free(&image);
        return std::nullopt;
    }
    return BitmapImageRep(image.width, image.height, std::move(pixels));
}

std::optional<BitmapImageRep> BitmapImageRep::decodeJPEG(const std::uint8_t* data, std::size_t size, std::string& reason)
{
    jpeg_decompress_struct info;
    JPEGFailure failure{};
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = jpegFail;
    failure.manager.emit_message = jpegWarn;
    // Everything that must be cleaned up after a jump lives outside this frame's locals that change.
    auto pixels = std::make_unique<std::vector<std::uint8_t>>();
    if (setjmp(failure.jump)) {
        jpeg_destroy_decompress(&info);
        reason = failure.message;
        return std::nullopt;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    if (std::uint64_t{info.image_width} * info.image_height > kMaxPixels) {
        jpeg_destroy_decompress(&info);
        reason = "The image is larger than the decoder allows";
        return std::nullopt;
    }
    info.out_color_space = JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    const std::size_t stride = std::size_t{info.output_width} * 4;
    pixels->resize(stride * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels->data() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    const std::uint32_t width = info.output_width;
    const std::uint32_t height = info.output_height;
    jpeg_destroy_decompress(&info);
    return BitmapImageRep(width, height, std::move(*pixels));
}

}  // namespace platform
