#include "library/models/BitmapImage.h"

#include <map>

namespace {

enum Tag : std::uint16_t {
    kImageWidth = 256,
    kImageLength = 257,
    kBitsPerSample = 258,
    kCompression = 259,
    kPhotometric = 262,
    kStripOffsets = 273,
    kSamplesPerPixel = 277,
    kRowsPerStrip = 278,
    kStripByteCounts = 279,
    kPlanarConfiguration = 284,
    kExtraSamples = 338,
};
enum FieldType : std::uint16_t { kShort = 3, kLong = 4 };

void put16(Bytes& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(Bytes& out, std::uint32_t value)
{
    put16(out, static_cast<std::uint16_t>(value));
    put16(out, static_cast<std::uint16_t>(value >> 16));
}

// Reads the file's numbers in its own byte order; every read is bounds-checked.
class TiffReader {
public:
    explicit TiffReader(const Bytes& data) : data_(data) {}

    bool header(std::uint32_t& firstDirectory)
    {
        if (data_.size() < 8) return false;
        if (data_[0] == 'I' && data_[1] == 'I') bigEndian_ = false;
        else if (data_[0] == 'M' && data_[1] == 'M') bigEndian_ = true;
        else return false;
        std::uint32_t magic = 0;
        return u16(2, magic) && magic == 42 && u32(4, firstDirectory);
    }

    bool u16(std::uint64_t offset, std::uint32_t& value) const
    {
        if (offset + 2 > data_.size()) return false;
        const std::uint32_t a = data_[offset], b = data_[offset + 1];
        value = bigEndian_ ? (a << 8 | b) : (b << 8 | a);
        return true;
    }

    bool u32(std::uint64_t offset, std::uint32_t& value) const
    {
        std::uint32_t low = 0, high = 0;
        if (!u16(offset, low) || !u16(offset + 2, high)) return false;
        value = bigEndian_ ? (low << 16 | high) : (high << 16 | low);
        return true;
    }

    // The values of one directory entry (SHORT or LONG only), inline or at their offset.
    bool values(std::uint64_t entry, std::vector<std::uint32_t>& out) const
    {
        std::uint32_t type = 0, count = 0;
        if (!u16(entry + 2, type) || !u32(entry + 4, count)) return false;
        if ((type != kShort && type != kLong) || count == 0 || count > 65536) return false;
        const std::uint64_t size = type == kShort ? 2 : 4;
        std::uint64_t at = entry + 8;
        if (size * count > 4) {
            std::uint32_t offset = 0;
            if (!u32(entry + 8, offset)) return false;
            at = offset;
        }
        out.resize(count);
        for (std::uint32_t i = 0; i < count; ++i)
            if (!(type == kShort ? u16(at + i * size, out[i]) : u32(at + i * size, out[i]))) return false;
        return true;
    }

private:
    const Bytes& data_;
    bool bigEndian_ = false;
};

}  // namespace

std::optional<BitmapImage> BitmapImage::make(std::uint32_t width, std::uint32_t height, std::vector<std::uint8_t> rgba)
{
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return std::nullopt;
    if (rgba.size() != static_cast<std::size_t>(width) * height * 4) return std::nullopt;
    BitmapImage image;
    image.width_ = width;
    image.height_ = height;
    image.rgba_ = std::move(rgba);
    return image;
}

Bytes BitmapImage::TIFFRepresentation() const
{
    const auto pixelBytes = static_cast<std::uint32_t>(rgba_.size());
    Bytes out{'I', 'I'};
    put16(out, 42);
    const std::uint32_t directory = 8 + pixelBytes + (pixelBytes & 1);
    put32(out, directory);
    out.insert(out.end(), rgba_.begin(), rgba_.end());
    if (pixelBytes & 1) out.push_back(0);

    constexpr std::uint16_t kEntries = 11;
    const std::uint32_t bitsOffset = directory + 2 + kEntries * 12 + 4;
    put16(out, kEntries);
    auto entry = [&](std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
        put16(out, tag);
        put16(out, type);
        put32(out, count);
        if (type == kShort && count == 1) {
            put16(out, static_cast<std::uint16_t>(value));
            put16(out, 0);
        } else {
            put32(out, value);
        }
    };
    entry(kImageWidth, kLong, 1, width_);
    entry(kImageLength, kLong, 1, height_);
    entry(kBitsPerSample, kShort, 4, bitsOffset);
    entry(kCompression, kShort, 1, 1);
    entry(kPhotometric, kShort, 1, 2);
    entry(kStripOffsets, kLong, 1, 8);
    entry(kSamplesPerPixel, kShort, 1, 4);
    entry(kRowsPerStrip, kLong, 1, height_);
    entry(kStripByteCounts, kLong, 1, pixelBytes);
    entry(kPlanarConfiguration, kShort, 1, 1);
    entry(kExtraSamples, kShort, 1, 2);
    put32(out, 0);
    for (int i = 0; i < 4; ++i) put16(out, 8);
    return out;
}

std::optional<BitmapImage> BitmapImage::imageWithTIFFData(const Bytes& data)
{
    TiffReader reader(data);
    std::uint32_t directory = 0, entries = 0;
    if (!reader.header(directory) || !reader.u16(directory, entries)) return std::nullopt;
    std::map<std::uint32_t, std::vector<std::uint32_t>> tags;
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::uint64_t at = directory + 2 + std::uint64_t{i} * 12;
        std::uint32_t tag = 0;
        std::vector<std::uint32_t> values;
        if (!reader.u16(at, tag)) return std::nullopt;
        if (reader.values(at, values)) tags[tag] = std::move(values);
    }
    auto single = [&](std::uint32_t tag, std::uint32_t fallback) {
        auto found = tags.find(tag);
        return found == tags.end() ? fallback : found->second.front();
    };
    const std::uint32_t width = single(kImageWidth, 0), height = single(kImageLength, 0);
    const std::uint32_t samples = single(kSamplesPerPixel, 1);
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) return std::nullopt;
    if (single(kCompression, 1) != 1 || single(kPhotometric, 0) != 2 || single(kPlanarConfiguration, 1) != 1)
        return std::nullopt;
    if (samples != 3 && samples != 4) return std::nullopt;
    // Without the tag the samples would be single bits.
    const auto& bits = tags[kBitsPerSample];
    if (bits.empty()) return std::nullopt;
    for (std::uint32_t sampleBits : bits)
        if (sampleBits != 8) return std::nullopt;
    const auto& offsets = tags[kStripOffsets];
    const auto& counts = tags[kStripByteCounts];
    if (offsets.empty() || offsets.size() != counts.size()) return std::nullopt;

    const std::size_t wanted = static_cast<std::size_t>(width) * height * samples;
    std::vector<std::uint8_t> packed;
    packed.reserve(wanted);
    for (std::size_t i = 0; i < offsets.size() && packed.size() < wanted; ++i) {
        const std::uint64_t end = std::uint64_t{offsets[i]} + counts[i];
        if (end > data.size()) return std::nullopt;
        const std::size_t take = std::min<std::size_t>(counts[i], wanted - packed.size());
        packed.insert(packed.end(), data.begin() + offsets[i], data.begin() + offsets[i] + take);
    }
    if (packed.size() != wanted) return std::nullopt;
    std::vector<std::uint8_t> rgba;
    rgba.reserve(static_cast<std::size_t>(width) * height * 4);
    for (std::size_t p = 0; p < wanted; p += samples) {
        rgba.insert(rgba.end(), packed.begin() + p, packed.begin() + p + 3);
        rgba.push_back(samples == 4 ? packed[p + 3] : 0xFF);
    }
    return make(width, height, std::move(rgba));
}
