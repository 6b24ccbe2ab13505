#include "platform/image/ICOReader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/image/BMPReader.h"

namespace platform {
namespace {

constexpr std::size_t kDirectoryHeader = 6;
constexpr std::size_t kDirectoryEntry = 16;

std::uint32_t u16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0] | p[1] << 8); }
std::uint32_t u32(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24; }

constexpr std::size_t kMaximumTries = 3;
const std::uint8_t kPNG[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// The pixels an entry's own header claims (the PNG's header chunk, the bitmap's header with its mask rows
// halved), before anything is decoded; 0 when the header is cut short, which the decoder then refuses.
std::uint64_t claimedPixels(const std::uint8_t* image, std::size_t length, bool png)
{
    auto big32 = [](const std::uint8_t* p) {
        return std::uint64_t{p[0]} << 24 | std::uint64_t{p[1]} << 16 | std::uint64_t{p[2]} << 8 | std::uint64_t{p[3]};
    };
    if (png) return length >= 24 ? big32(image + 16) * big32(image + 20) : 0;
    if (length >= 12 && u32(image) == 12) return std::uint64_t{u16(image + 4)} * (u16(image + 6) / 2);
    if (length < 12) return 0;
    const auto width = static_cast<std::int32_t>(u32(image + 4)), height = static_cast<std::int32_t>(u32(image + 8));
    if (width <= 0 || height <= 0) return 0;
    return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height / 2);
}

struct Entry {
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t bitCount;
    std::uint32_t size;
    std::uint32_t offset;
};

}  // namespace

std::optional<BitmapImageRep> ICOReader::decode(const std::uint8_t* data, std::size_t size, std::string& reason)
{
    if (size < kDirectoryHeader || u16(data) != 0 || (u16(data + 2) != 1 && u16(data + 2) != 2)) {
        reason = "The data is no icon";
        return std::nullopt;
    }
    const bool cursor = u16(data + 2) == 2;
    const std::size_t count = u16(data + 4);
    if (count == 0 || kDirectoryHeader + count * kDirectoryEntry > size) {
        reason = count == 0 ? "The icon holds no image" : "The icon's directory is cut short";
        return std::nullopt;
    }
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* e = data + kDirectoryHeader + i * kDirectoryEntry;
        // 0 stands for 256; a cursor keeps its hot spot where an icon keeps its bit count.
        entries.push_back({e[0] ? e[0] : 256u, e[1] ? e[1] : 256u, cursor ? 0 : u16(e + 6), u32(e + 8), u32(e + 12)});
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        const std::uint64_t areaA = std::uint64_t{a.width} * a.height, areaB = std::uint64_t{b.width} * b.height;
        return areaA != areaB ? areaA > areaB : a.bitCount > b.bitCount;
    });
    // The best entries are tried, a few at most, and together they may ask for no more pixels than one
    // picture may have: an icon of thousands of damaged entries costs no more than one good one.
    std::string first;
    std::size_t tried = 0;
    std::uint64_t pixelsLeft = BitmapImageRep::kMaxPixels;
    for (const Entry& entry : entries) {
        if (tried == kMaximumTries) break;
        std::string why;
        std::optional<BitmapImageRep> rep;
        if (entry.offset >= size || entry.size == 0) {
            why = "The icon's image lies past its end";
        } else {
            // An image that claims more than the file holds is read as far as the file goes.
            const std::size_t length = std::min<std::size_t>(entry.size, size - entry.offset);
            const std::uint8_t* image = data + entry.offset;
            const bool png = length >= 8 && std::memcmp(image, kPNG, 8) == 0;
            const std::uint64_t claimed = claimedPixels(image, length, png);
            if (claimed > pixelsLeft) {
                why = "The icon's images ask for more pixels than a picture may have";
            } else {
                ++tried;
                pixelsLeft -= claimed;
                rep = png ? BitmapImageRep::decodePNG(image, length, why) : BMPReader::decodeIconBitmap(image, length, why);
            }
        }
        if (rep) return rep;
        if (first.empty()) first = why;
    }
    reason = first;
    return std::nullopt;
}

}  // namespace platform
