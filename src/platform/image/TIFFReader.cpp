#include "platform/image/TIFFReader.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace platform {
namespace {

// No single allocation of libtiff's may go past what the largest allowed image takes.
constexpr tmsize_t kMaxSingleAllocation = static_cast<tmsize_t>(BitmapImageRep::kMaxPixels * 4);

struct Memory {
    const std::uint8_t* data;
    std::uint64_t size;
    std::uint64_t position = 0;
};

tmsize_t readMemory(thandle_t handle, void* buffer, tmsize_t length)
{
    auto* memory = static_cast<Memory*>(handle);
    if (length <= 0 || memory->position >= memory->size) return 0;
    const std::uint64_t count = std::min<std::uint64_t>(static_cast<std::uint64_t>(length), memory->size - memory->position);
    std::memcpy(buffer, memory->data + memory->position, count);
    memory->position += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t writeMemory(thandle_t, void*, tmsize_t) { return 0; }

toff_t seekMemory(thandle_t handle, toff_t offset, int whence)
{
    auto* memory = static_cast<Memory*>(handle);
    std::uint64_t base = 0;
    if (whence == SEEK_CUR) base = memory->position;
    else if (whence == SEEK_END) base = memory->size;
    else if (whence != SEEK_SET) return static_cast<toff_t>(-1);
    if (offset > UINT64_MAX - base) return static_cast<toff_t>(-1);
    memory->position = base + offset;
    return memory->position;
}

int closeMemory(thandle_t) { return 0; }

toff_t sizeOfMemory(thandle_t handle) { return static_cast<Memory*>(handle)->size; }

int mapNothing(thandle_t, void**, toff_t*) { return 0; }

void unmapNothing(thandle_t, void*, toff_t) {}

// Keeps the first error as the reason; warnings are dropped. Both answer that they handled it, so
// libtiff prints nothing.
int keepError(TIFF*, void* userData, const char* module, const char* format, va_list arguments)
{
    auto* reason = static_cast<std::string*>(userData);
    if (!reason->empty()) return 1;
    char text[256];
    std::vsnprintf(text, sizeof text, format, arguments);
    *reason = std::string(module ? module : "TIFF") + ": " + text;
    return 1;
}

int dropWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TIFFCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

}  // namespace

std::optional<BitmapImageRep> TIFFReader::decode(const std::uint8_t* data, std::size_t size, std::string& reason)
{
    Memory memory{data, size};
    std::string libraryError;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) {
        reason = "The TIFF reader cannot start";
        return std::nullopt;
    }
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxSingleAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(options, &keepError, &libraryError);
    TIFFOpenOptionsSetWarningHandlerExtR(options, &dropWarning, nullptr);
    // "m": read through the procedures above, never a mapping.
    std::unique_ptr<TIFF, TIFFCloser> tiff(TIFFClientOpenExt("image.tiff", "rm", &memory, &readMemory, &writeMemory, &seekMemory,
                                                              &closeMemory, &sizeOfMemory, &mapNothing, &unmapNothing, options));
    TIFFOpenOptionsFree(options);
    auto fail = [&](const char* what) {
        reason = std::string(what) + (libraryError.empty() ? std::string() : " (" + libraryError + ")");
        return std::nullopt;
    };
    if (!tiff) return fail("The TIFF image cannot be opened");
    std::uint32_t width = 0, height = 0;
    if (TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) != 1 || TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height) != 1)
        return fail("The TIFF image has no size");
    if (!BitmapImageRep::fits(width, height)) return fail("The TIFF image is empty or larger than the decoder allows");
    char refusal[1024] = {};
    if (!TIFFRGBAImageOK(tiff.get(), refusal)) {
        reason = std::string("The TIFF image is of a kind that cannot be read: ") + refusal;
        return std::nullopt;
    }
    std::vector<std::uint32_t> raster(std::size_t{width} * height);
    if (TIFFReadRGBAImageOriented(tiff.get(), width, height, raster.data(), ORIENTATION_TOPLEFT, 1) != 1)
        return fail("The TIFF image data is damaged");
    std::vector<std::uint8_t> pixels(raster.size() * 4);
    for (std::size_t i = 0; i < raster.size(); ++i) {
        pixels[i * 4] = static_cast<std::uint8_t>(TIFFGetR(raster[i]));
        pixels[i * 4 + 1] = static_cast<std::uint8_t>(TIFFGetG(raster[i]));
        pixels[i * 4 + 2] = static_cast<std::uint8_t>(TIFFGetB(raster[i]));
        pixels[i * 4 + 3] = static_cast<std::uint8_t>(TIFFGetA(raster[i]));
    }
    return BitmapImageRep::withPixels(width, height, std::move(pixels));
}

}  // namespace platform
