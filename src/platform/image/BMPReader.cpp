#include "platform/image/BMPReader.h"

#include <array>
#include <vector>

namespace platform {
namespace {

enum Compression : std::uint32_t { kRGB = 0, kRLE8 = 1, kRLE4 = 2, kBitFields = 3, kAlphaBitFields = 6 };
constexpr std::size_t kFileHeader = 14;

std::uint32_t u16(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0] | p[1] << 8); }
std::uint32_t u32(const std::uint8_t* p) { return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 | static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24; }

// One channel given by a bit mask: where it starts and how many bits it has, scaled to eight bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    explicit Channel(std::uint32_t m = 0) : mask(m)
    {
        if (!mask) return;
        while (!((mask >> shift) & 1)) ++shift;
        while (shift + bits < 32 && ((mask >> (shift + bits)) & 1)) ++bits;
    }
    std::uint8_t of(std::uint32_t value) const
    {
        if (!mask) return 0;
        const std::uint32_t top = (bits >= 32) ? 0xFFFFFFFFu : ((1u << bits) - 1);
        // Mask bits past the first gap are no part of the channel.
        const std::uint32_t raw = ((value & mask) >> shift) & top;
        return static_cast<std::uint8_t>((static_cast<std::uint64_t>(raw) * 255 + top / 2) / top);
    }
};

struct Header {
    std::uint32_t headerSize = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;  // negative: rows top to bottom
    std::uint32_t bitCount = 0;
    std::uint32_t compression = kRGB;
    std::uint32_t colourCount = 0;
    std::array<std::uint32_t, 4> masks{};  // red, green, blue, alpha
    bool hasAlphaMask = false;
    std::size_t tableOffset = 0;  // from the header's start
    std::size_t tableEntrySize = 4;
};

bool fail(std::string& reason, const char* text)
{
    reason = text;
    return false;
}

bool readHeader(const std::uint8_t* data, std::size_t size, Header& header, std::string& reason)
{
    if (size < 4) return fail(reason, "The bitmap's header is cut short");
    header.headerSize = u32(data);
    if (header.headerSize == 12) {
        if (size < 12) return fail(reason, "The bitmap's header is cut short");
        header.width = u16(data + 4);
        header.height = u16(data + 6);
        header.bitCount = u16(data + 10);
        header.tableOffset = 12;
        header.tableEntrySize = 3;
        return true;
    }
    if (header.headerSize < 40 || header.headerSize > size) return fail(reason, "The bitmap's header is of no known size");
    header.width = static_cast<std::int32_t>(u32(data + 4));
    header.height = static_cast<std::int32_t>(u32(data + 8));
    header.bitCount = u16(data + 14);
    header.compression = u32(data + 16);
    header.colourCount = u32(data + 32);
    header.tableOffset = header.headerSize;
    const bool masked = header.compression == kBitFields || header.compression == kAlphaBitFields;
    if (masked) {
        // A 40-byte header keeps its masks after itself; the longer ones hold them.
        const std::size_t count = header.compression == kAlphaBitFields ? 4 : 3;
        const std::size_t at = 40;
        if (header.headerSize == 40) header.tableOffset += count * 4;
        if (at + count * 4 > size) return fail(reason, "The bitmap's colour masks are cut short");
        for (std::size_t i = 0; i < count; ++i) header.masks[i] = u32(data + at + i * 4);
        header.hasAlphaMask = count == 4;
    }
    if (header.headerSize >= 56 && !header.hasAlphaMask) {
        header.masks[3] = u32(data + 52);
        header.hasAlphaMask = masked && header.masks[3] != 0;
    }
    return true;
}

class Decoder {
public:
    Decoder(const std::uint8_t* data, std::size_t size, std::string& reason) : m_data(data), m_size(size), m_reason(reason) {}

    // `header` at `headerAt`; the pixels at `pixelsAt` (all offsets from `data`). Icons halve the height
    // and carry a transparency mask after the pixels.
    std::optional<BitmapImageRep> run(std::size_t headerAt, std::optional<std::size_t> pixelsAt, bool icon)
    {
        if (!readHeader(m_data + headerAt, m_size - headerAt, m_header, m_reason)) return std::nullopt;
        if (icon && m_header.height <= 0) return refuse("The icon's bitmap has no height");
        m_width = m_header.width;
        m_topDown = m_header.height < 0;
        m_height = m_topDown ? -m_header.height : m_header.height;
        if (icon) m_height /= 2;
        if (m_width <= 0 || !BitmapImageRep::fits(static_cast<std::uint64_t>(m_width), static_cast<std::uint64_t>(m_height)))
            return refuse("The bitmap is empty or larger than the decoder allows");
        if (!readTable(headerAt)) return std::nullopt;
        const std::size_t start = pixelsAt ? *pixelsAt : headerAt + m_header.tableOffset + m_table.size() * m_header.tableEntrySize;
        if (start > m_size) return refuse("The bitmap's pixels lie past its end");
        std::size_t end = 0;
        if (!decodePixels(start, end)) return std::nullopt;
        if (icon) applyMask(end);
        return BitmapImageRep::withPixels(static_cast<std::uint32_t>(m_width), static_cast<std::uint32_t>(m_height), std::move(m_pixels));
    }

private:
    std::nullopt_t refuse(const char* text)
    {
        m_reason = text;
        return std::nullopt;
    }

    bool readTable(std::size_t headerAt)
    {
        const std::uint32_t bits = m_header.bitCount;
        if (bits > 8) return true;
        if (bits != 1 && bits != 4 && bits != 8) return fail(m_reason, "The bitmap's bits per pixel are of no known kind");
        const std::uint32_t full = 1u << bits;
        const std::uint32_t count = (m_header.colourCount == 0 || m_header.headerSize == 12) ? full : m_header.colourCount;
        if (count > 256) return fail(m_reason, "The bitmap's colour table is too long");
        const std::size_t at = headerAt + m_header.tableOffset;
        if (at > m_size || count * m_header.tableEntrySize > m_size - at) return fail(m_reason, "The bitmap's colour table is cut short");
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* entry = m_data + at + i * m_header.tableEntrySize;
            m_table.push_back({entry[2], entry[1], entry[0]});
        }
        return true;
    }

    std::uint8_t* pixel(std::int64_t x, std::int64_t rowFromBottom)
    {
        const std::int64_t row = m_topDown ? rowFromBottom : m_height - 1 - rowFromBottom;
        return m_pixels.data() + static_cast<std::size_t>((row * m_width + x) * 4);
    }

    void putIndex(std::int64_t x, std::int64_t rowFromBottom, std::uint32_t index)
    {
        std::uint8_t* out = pixel(x, rowFromBottom);
        // An index past the table is drawn black rather than read out of bounds.
        if (index < m_table.size()) {
            out[0] = m_table[index][0];
            out[1] = m_table[index][1];
            out[2] = m_table[index][2];
        }
        out[3] = 0xFF;
    }

    bool decodePixels(std::size_t start, std::size_t& end)
    {
        const std::uint32_t bits = m_header.bitCount;
        const std::uint32_t compression = m_header.compression;
        if (compression == kRLE8 || compression == kRLE4) {
            if (m_topDown) return fail(m_reason, "A run-length coded bitmap cannot run top to bottom");
            if ((compression == kRLE8 && bits != 8) || (compression == kRLE4 && bits != 4))
                return fail(m_reason, "The bitmap's run-length coding does not match its bits per pixel");
            // Runs and jumps make few bytes cover many pixels, but not without bound: a few bytes that
            // claim a huge bitmap are refused before its pixels are made.
            constexpr std::uint64_t kPixelsPerByte = 65536;
            if (static_cast<std::uint64_t>(m_width * m_height) / kPixelsPerByte > m_size - start)
                return fail(m_reason, "The bitmap claims more pixels than its data can hold");
            // The codes are walked once without drawing: codes cut short are refused before the pixels
            // are made, which costs the input's length, not the claimed size.
            if (!decodeRunLength(start, compression == kRLE4, end, false)) return false;
            m_pixels.assign(static_cast<std::size_t>(m_width * m_height) * 4, 0);
            return decodeRunLength(start, compression == kRLE4, end, true);
        }
        if (compression == kBitFields || compression == kAlphaBitFields) {
            if (bits != 16 && bits != 32) return fail(m_reason, "The bitmap's colour masks need 16 or 32 bits per pixel");
        } else if (compression != kRGB) {
            return fail(m_reason, "The bitmap's compression is of no known kind");
        }
        if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
            return fail(m_reason, "The bitmap's bits per pixel are of no known kind");
        const std::uint64_t stride = (static_cast<std::uint64_t>(m_width) * bits + 31) / 32 * 4;
        if (stride * static_cast<std::uint64_t>(m_height) > m_size - start) return fail(m_reason, "The bitmap's pixels are cut short");
        end = start + static_cast<std::size_t>(stride * static_cast<std::uint64_t>(m_height));
        m_pixels.assign(static_cast<std::size_t>(m_width * m_height) * 4, 0);

        std::array<Channel, 4> channels;
        if (compression == kRGB && bits == 16) channels = {Channel(0x7C00), Channel(0x03E0), Channel(0x001F), Channel()};
        else if (compression == kRGB && bits == 32) channels = {Channel(0xFF0000), Channel(0xFF00), Channel(0xFF), Channel(0xFF000000u)};
        else for (int i = 0; i < 4; ++i) channels[i] = Channel(i < 3 || m_header.hasAlphaMask ? m_header.masks[i] : 0);
        bool anyAlpha = false;
        for (std::int64_t y = 0; y < m_height; ++y) {
            const std::uint8_t* row = m_data + start + static_cast<std::size_t>(stride) * static_cast<std::size_t>(y);
            for (std::int64_t x = 0; x < m_width; ++x) {
                if (bits <= 8) {
                    const std::uint64_t bit = static_cast<std::uint64_t>(x) * bits;
                    const std::uint32_t index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                    putIndex(x, y, index);
                    continue;
                }
                std::uint8_t* out = pixel(x, y);
                if (bits == 24) {
                    const std::uint8_t* p = row + x * 3;
                    out[0] = p[2], out[1] = p[1], out[2] = p[0], out[3] = 0xFF;
                    continue;
                }
                const std::uint32_t value = bits == 16 ? u16(row + x * 2) : u32(row + x * 4);
                out[0] = channels[0].of(value);
                out[1] = channels[1].of(value);
                out[2] = channels[2].of(value);
                out[3] = channels[3].mask ? channels[3].of(value) : 0xFF;
                anyAlpha = anyAlpha || out[3] != 0;
            }
        }
        // Many writers leave the unused byte of a 32-bit pixel at 0: no alpha at all means opaque.
        if (channels[3].mask && !anyAlpha)
            for (std::size_t i = 3; i < m_pixels.size(); i += 4) m_pixels[i] = 0xFF;
        m_hasOwnAlpha = channels[3].mask && anyAlpha;
        return true;
    }

    // Runs, literal stretches and escapes (end of line, end of bitmap, a jump), bottom row first. Pixels
    // the codes jump over, or that follow the end of the bitmap, stay transparent; codes that run out
    // before either end are refused. Without `draw` the codes are only checked and the cursor moved, a
    // step per code.
    bool decodeRunLength(std::size_t at, bool nibbles, std::size_t& end, bool draw)
    {
        std::int64_t x = 0, y = 0;
        auto put = [&](std::uint32_t index) {
            if (x < m_width && y < m_height) putIndex(x, y, index);
            ++x;
        };
        while (true) {
            if (at + 2 > m_size) return fail(m_reason, "The bitmap's run-length codes are cut short");
            const std::uint32_t count = m_data[at], value = m_data[at + 1];
            at += 2;
            if (count > 0) {
                if (!draw) {
                    x += count;
                    continue;
                }
                for (std::uint32_t i = 0; i < count; ++i) put(nibbles ? ((i % 2) ? value & 0x0F : value >> 4) : value);
                continue;
            }
            if (value == 0) {
                x = 0;
                if (++y >= m_height) break;
            } else if (value == 1) {
                // Writers end early when the rest is background; what follows stays transparent.
                break;
            } else if (value == 2) {
                if (at + 2 > m_size) return fail(m_reason, "The bitmap's run-length codes are cut short");
                x += m_data[at];
                y += m_data[at + 1];
                at += 2;
                if (y >= m_height) break;
            } else {
                const std::size_t bytes = nibbles ? (value + 1) / 2 : value;
                const std::size_t padded = bytes + (bytes % 2);
                if (padded > m_size - at) return fail(m_reason, "The bitmap's run-length codes are cut short");
                if (!draw) x += value;
                for (std::uint32_t i = 0; draw && i < value; ++i)
                    put(nibbles ? ((i % 2) ? m_data[at + i / 2] & 0x0F : m_data[at + i / 2] >> 4) : m_data[at + i]);
                at += padded;
            }
        }
        end = at;
        m_hasOwnAlpha = true;
        return true;
    }

    // The icon's 1-bit mask after its pixels, rows bottom first: a set bit is transparent. Pixels that
    // carry their own alpha keep it; a mask the data does not hold leaves the icon opaque.
    void applyMask(std::size_t at)
    {
        if (m_hasOwnAlpha) return;
        const std::uint64_t stride = (static_cast<std::uint64_t>(m_width) + 31) / 32 * 4;
        if (at > m_size || stride * static_cast<std::uint64_t>(m_height) > m_size - at) return;
        for (std::int64_t y = 0; y < m_height; ++y) {
            const std::uint8_t* row = m_data + at + static_cast<std::size_t>(stride) * static_cast<std::size_t>(y);
            for (std::int64_t x = 0; x < m_width; ++x)
                if ((row[x / 8] >> (7 - x % 8)) & 1) pixel(x, y)[3] = 0;
        }
    }

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::string& m_reason;
    Header m_header;
    std::int64_t m_width = 0;
    std::int64_t m_height = 0;
    bool m_topDown = false;
    bool m_hasOwnAlpha = false;
    std::vector<std::array<std::uint8_t, 3>> m_table;
    std::vector<std::uint8_t> m_pixels;
};

}  // namespace

std::optional<BitmapImageRep> BMPReader::decode(const std::uint8_t* data, std::size_t size, std::string& reason)
{
    if (size < kFileHeader || data[0] != 'B' || data[1] != 'M') {
        reason = "The data is no bitmap";
        return std::nullopt;
    }
    return Decoder(data, size, reason).run(kFileHeader, u32(data + 10), false);
}

std::optional<BitmapImageRep> BMPReader::decodeIconBitmap(const std::uint8_t* data, std::size_t size, std::string& reason)
{
    return Decoder(data, size, reason).run(0, std::nullopt, true);
}

}  // namespace platform
