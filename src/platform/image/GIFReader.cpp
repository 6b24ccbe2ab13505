#include "platform/image/GIFReader.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace platform {
namespace {

struct Source {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t position = 0;
};

int readSource(GifFileType* gif, GifByteType* buffer, int length)
{
    auto* source = static_cast<Source*>(gif->UserData);
    const std::size_t count = std::min(static_cast<std::size_t>(std::max(length, 0)), source->size - source->position);
    std::memcpy(buffer, source->data + source->position, count);
    source->position += count;
    return static_cast<int>(count);
}

struct GifCloser {
    void operator()(GifFileType* gif) const
    {
        int ignored = 0;
        DGifCloseFile(gif, &ignored);
    }
};

std::string failure(const GifFileType* gif, const char* what)
{
    const char* detail = gif ? GifErrorString(gif->Error) : nullptr;
    return std::string(what) + (detail ? std::string(": ") + detail : std::string());
}

}  // namespace

std::optional<BitmapImageRep> GIFReader::decode(const std::uint8_t* data, std::size_t size, std::string& reason)
{
    Source source{data, size};
    int openError = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&source, &readSource, &openError));
    if (!gif) {
        const char* detail = GifErrorString(openError);
        reason = std::string("The GIF image cannot be opened") + (detail ? std::string(": ") + detail : std::string());
        return std::nullopt;
    }
    int transparent = -1;
    while (true) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif.get(), &type) != GIF_OK) {
            reason = failure(gif.get(), "The GIF image is damaged");
            return std::nullopt;
        }
        if (type == TERMINATE_RECORD_TYPE) {
            reason = "The GIF file holds no image";
            return std::nullopt;
        }
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* extension = nullptr;
            if (DGifGetExtension(gif.get(), &code, &extension) != GIF_OK) {
                reason = failure(gif.get(), "The GIF image is damaged");
                return std::nullopt;
            }
            // The graphic control block before an image names its transparent colour.
            if (code == GRAPHICS_EXT_FUNC_CODE && extension && extension[0] >= 4)
                transparent = (extension[1] & 1) ? extension[4] : -1;
            while (extension) {
                if (DGifGetExtensionNext(gif.get(), &extension) != GIF_OK) {
                    reason = failure(gif.get(), "The GIF image is damaged");
                    return std::nullopt;
                }
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) continue;

        if (DGifGetImageDesc(gif.get()) != GIF_OK) {
            reason = failure(gif.get(), "The GIF image is damaged");
            return std::nullopt;
        }
        const GifImageDesc& frame = gif->Image;
        const ColorMapObject* colours = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
        if (!colours || !colours->Colors || colours->ColorCount <= 0) {
            reason = "The GIF image has no colour table";
            return std::nullopt;
        }
        const auto left = static_cast<std::uint64_t>(std::max(frame.Left, 0));
        const auto top = static_cast<std::uint64_t>(std::max(frame.Top, 0));
        const auto frameWidth = static_cast<std::uint64_t>(std::max(frame.Width, 0));
        const auto frameHeight = static_cast<std::uint64_t>(std::max(frame.Height, 0));
        // A screen too small for its image grows to hold it, as readers commonly do.
        const std::uint64_t width = std::max<std::uint64_t>(static_cast<std::uint64_t>(std::max(gif->SWidth, 0)), left + frameWidth);
        const std::uint64_t height = std::max<std::uint64_t>(static_cast<std::uint64_t>(std::max(gif->SHeight, 0)), top + frameHeight);
        if (!BitmapImageRep::fits(frameWidth, frameHeight) || !BitmapImageRep::fits(width, height)) {
            reason = "The GIF image is empty or larger than the decoder allows";
            return std::nullopt;
        }
        std::vector<std::uint8_t> pixels(width * height * 4, 0);
        std::vector<GifPixelType> line(frameWidth);
        auto putRow = [&](std::uint64_t row) {
            std::uint8_t* out = pixels.data() + ((top + row) * width + left) * 4;
            for (std::uint64_t x = 0; x < frameWidth; ++x, out += 4) {
                const int index = line[x];
                if (index == transparent) continue;
                // An index past the table is drawn black rather than read out of bounds.
                if (index < colours->ColorCount) {
                    out[0] = colours->Colors[index].Red;
                    out[1] = colours->Colors[index].Green;
                    out[2] = colours->Colors[index].Blue;
                } else {
                    out[0] = out[1] = out[2] = 0;
                }
                out[3] = 0xFF;
            }
        };
        auto readRow = [&](std::uint64_t row) {
            if (DGifGetLine(gif.get(), line.data(), static_cast<int>(frameWidth)) != GIF_OK) return false;
            putRow(row);
            return true;
        };
        bool complete = true;
        if (frame.Interlace) {
            static constexpr std::uint64_t kStart[] = {0, 4, 2, 1};
            static constexpr std::uint64_t kStep[] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4 && complete; ++pass)
                for (std::uint64_t row = kStart[pass]; row < frameHeight && complete; row += kStep[pass]) complete = readRow(row);
        } else {
            for (std::uint64_t row = 0; row < frameHeight && complete; ++row) complete = readRow(row);
        }
        if (!complete) {
            reason = failure(gif.get(), "The GIF image data is damaged");
            return std::nullopt;
        }
        return BitmapImageRep::withPixels(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), std::move(pixels));
    }
}

}  // namespace platform
