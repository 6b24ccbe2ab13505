#include "device/formats/MIDIMessageUtil.h"

#include <array>
#include <bit>
#include <cstring>

namespace {

// Eight tables so the hot loop folds eight bytes per step; table 0 alone is the classic byte-wise table.
constexpr std::array<std::array<std::uint32_t, 256>, 8> makeCrcTables()
{
    std::array<std::array<std::uint32_t, 256>, 8> tables{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1u) ? 0xEDB88320u : 0u);
        tables[0][i] = crc;
    }
    for (std::size_t t = 1; t < 8; ++t)
        for (std::size_t i = 0; i < 256; ++i)
            tables[t][i] = (tables[t - 1][i] >> 8) ^ tables[0][tables[t - 1][i] & 0xFFu];
    return tables;
}

constexpr auto kCrcTables = makeCrcTables();

std::uint64_t loadLittleEndian64(const std::uint8_t* bytes)
{
    std::uint64_t value;
    std::memcpy(&value, bytes, sizeof value);
    if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap64(value);
    return value;
}

// Packs one group of up to seven bytes at `out`; returns the bytes written (count + 1).
inline std::size_t packGroup(std::uint8_t* out, const std::uint8_t* in, std::size_t count)
{
    std::uint8_t header = 0;
    for (std::size_t k = 0; k < count; ++k) {
        header |= static_cast<std::uint8_t>((in[k] >> 7) << (6 - k));
        out[k + 1] = in[k] & 0x7Fu;
    }
    out[0] = header;
    return count + 1;
}

void storeLittleEndian64(std::uint8_t* bytes, std::uint64_t value)
{
    if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap64(value);
    std::memcpy(bytes, &value, sizeof value);
}

// Multipliers that move one bit per byte lane in a single step; every partial product lands on its own
// bit, so nothing carries into the bits kept.
// Top bit of byte k (moved down to bit 8k) -> bit 56 + 6 - k: the header's order.
constexpr std::uint64_t kGatherHeader = (1ull << 62) | (1ull << 53) | (1ull << 44) | (1ull << 35) | (1ull << 26)
                                        | (1ull << 17) | (1ull << 8);
// Header bit 6 - k -> bit 8k + 7: back onto byte k's top bit.
constexpr std::uint64_t kSpreadHeader = (1ull << 1) | (1ull << 10) | (1ull << 19) | (1ull << 28) | (1ull << 37)
                                        | (1ull << 46) | (1ull << 55);
constexpr std::uint64_t kLowSevenLanes = 0x00FFFFFFFFFFFFFFull;
constexpr std::uint64_t kTopBits = 0x0080808080808080ull;

void packAll(std::uint8_t* out, const std::uint8_t* in, std::size_t length)
{
    std::size_t offset = 0;
    // Eight readable source bytes and a following group: whole words may be loaded and stored (the
    // eighth byte stored is the next group's header slot, written over on the next step).
    for (; offset + 8 <= length; offset += 7, out += 8) {
        const std::uint64_t word = loadLittleEndian64(in + offset) & kLowSevenLanes;
        out[0] = static_cast<std::uint8_t>((((word >> 7) & 0x0001010101010101ull) * kGatherHeader) >> 56);
        storeLittleEndian64(out + 1, word & 0x7F7F7F7F7F7F7F7Full);
    }
    for (; offset + 7 <= length; offset += 7) out += packGroup(out, in + offset, 7);
    if (offset < length) packGroup(out, in + offset, length - offset);
}

}  // namespace

std::int32_t Convert87(std::uint8_t* destination, std::size_t capacity, const std::uint8_t* source,
                       std::int32_t length)
{
    if (length <= 0) return 0;
    const auto needed = packedSize87(length);
    if (static_cast<std::uint64_t>(needed) > capacity) return -1;
    packAll(destination, source, static_cast<std::size_t>(length));
    return static_cast<std::int32_t>(needed);
}

void Convert87(Bytes& destination, const std::uint8_t* source, std::size_t length)
{
    if (length == 0) return;
    const std::size_t start = destination.size();
    destination.resize(start + static_cast<std::size_t>(packedSize87(static_cast<std::int64_t>(length))));
    packAll(destination.data() + start, source, length);
}

void Convert32to7(std::uint32_t value, std::uint8_t* destination)
{
    for (int i = 0; i < 5; ++i) destination[i] = static_cast<std::uint8_t>((value >> (7 * i)) & 0x7Fu);
}

void Convert32to7(std::uint32_t value, Bytes& destination)
{
    const std::size_t start = destination.size();
    destination.resize(start + 5);
    Convert32to7(value, destination.data() + start);
}

std::optional<std::uint32_t> Convert7to32(const std::uint8_t* bytes, std::size_t available)
{
    if (bytes == nullptr || available < 5) return std::nullopt;
    return (bytes[0] & 0x7Fu) | (bytes[1] & 0x7Fu) << 7 | (bytes[2] & 0x7Fu) << 14 | (bytes[3] & 0x7Fu) << 21
           | static_cast<std::uint32_t>(bytes[4]) << 28;
}

std::uint64_t updateCRC32(std::uint64_t crc, std::uint8_t byte)
{
    return kCrcTables[0][(crc ^ byte) & 0xFFu] ^ ((crc >> 8) & 0xFFFFFFu);
}

std::uint64_t CalcCrc32(const std::uint8_t* bytes, std::int64_t length)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    if (bytes == nullptr || length <= 0) return crc;
    auto remaining = static_cast<std::size_t>(length);
    const auto& t = kCrcTables;
    while (remaining >= 8) {
        const std::uint64_t word = loadLittleEndian64(bytes) ^ crc;
        crc = t[7][word & 0xFF] ^ t[6][(word >> 8) & 0xFF] ^ t[5][(word >> 16) & 0xFF] ^ t[4][(word >> 24) & 0xFF]
              ^ t[3][(word >> 32) & 0xFF] ^ t[2][(word >> 40) & 0xFF] ^ t[1][(word >> 48) & 0xFF]
              ^ t[0][word >> 56];
        bytes += 8;
        remaining -= 8;
    }
    while (remaining-- > 0) crc = t[0][(crc ^ *bytes++) & 0xFFu] ^ (crc >> 8);
    return crc;
}

Bytes MIDIMessageUtil::convert78(const std::uint8_t* bytes, std::int64_t length)
{
    if (bytes == nullptr || length <= 0) return {};
    const auto m = static_cast<std::size_t>(length);
    Bytes out(m / 8 * 7 + (m % 8 == 0 ? 0 : m % 8 - 1));
    std::uint8_t* o = out.data();
    const std::uint8_t* in = bytes;
    const std::uint8_t* const end = bytes + m;
    // Whole groups: a header, then seven bytes whose top bits it carries. Data bytes are taken as they
    // come (not masked), so a stray top bit survives the way the device's own decoder keeps it.
    // With at least one output byte after the group, its eight bytes may be stored as one word.
    while (end - in >= 10) {
        const std::uint64_t data = loadLittleEndian64(in + 1) & kLowSevenLanes;
        storeLittleEndian64(o, data | (((in[0] & 0x7Full) * kSpreadHeader) & kTopBits));
        o += 7;
        in += 8;
    }
    while (end - in >= 8) {
        const unsigned header = in[0];
        for (int k = 0; k < 7; ++k) *o++ = static_cast<std::uint8_t>(in[k + 1] | ((header << (k + 1)) & 0x80u));
        in += 8;
    }
    if (in < end) {
        const unsigned header = in[0];
        const auto count = static_cast<int>(end - in) - 1;
        for (int k = 0; k < count; ++k) *o++ = static_cast<std::uint8_t>(in[k + 1] | ((header << (k + 1)) & 0x80u));
    }
    return out;
}

Bytes MIDIMessageUtil::convert87Type2(const std::uint8_t* bytes, std::int64_t length)
{
    if (bytes == nullptr || length <= 0) return {};
    const auto n = static_cast<std::size_t>(length);
    Bytes out((8 * n + 6) / 7);
    std::uint8_t* o = out.data();
    std::size_t i = 0;
    // Seven input bytes are exactly 56 stream bits: eight output bytes.
    for (; i + 8 <= n; i += 7, o += 8) {
        // Spread 56 bits into eight 7-bit lanes in three halving steps: 28, 14, then 7 bits a lane.
        std::uint64_t x = loadLittleEndian64(bytes + i) & kLowSevenLanes;
        x = (x & 0x000000000FFFFFFFull) | ((x & 0x00FFFFFFF0000000ull) << 4);
        x = (x & 0x00003FFF00003FFFull) | ((x & 0x0FFFC0000FFFC000ull) << 2);
        x = (x & 0x007F007F007F007Full) | ((x & 0x3F803F803F803F80ull) << 1);
        storeLittleEndian64(o, x);
    }
    for (; i + 7 <= n; i += 7) {
        std::uint64_t bits = 0;
        for (int k = 6; k >= 0; --k) bits = (bits << 8) | bytes[i + static_cast<std::size_t>(k)];
        for (int k = 0; k < 8; ++k) *o++ = static_cast<std::uint8_t>((bits >> (7 * k)) & 0x7Fu);
    }
    if (i < n) {
        const auto rest = n - i;
        std::uint64_t bits = 0;
        for (std::size_t k = rest; k-- > 0;) bits = (bits << 8) | bytes[i + k];
        for (std::size_t k = 0, count = (8 * rest + 6) / 7; k < count; ++k)
            *o++ = static_cast<std::uint8_t>((bits >> (7 * k)) & 0x7Fu);
    }
    return out;
}

Bytes MIDIMessageUtil::convert78Type2(const std::uint8_t* bytes, std::int64_t length)
{
    if (bytes == nullptr || length <= 0) return {};
    const auto m = static_cast<std::size_t>(length);
    Bytes out((7 * m + 7) / 8);
    std::uint8_t* o = out.data();
    std::size_t i = 0;
    // Eight encoded bytes carry 56 bits: seven decoded bytes. Only the low seven bits of each count.
    // The reverse steps; the word's eighth byte is zero and lands on the next group's first byte.
    for (; i + 9 <= m; i += 8, o += 7) {
        std::uint64_t x = loadLittleEndian64(bytes + i) & 0x7F7F7F7F7F7F7F7Full;
        x = (x & 0x007F007F007F007Full) | ((x & 0x7F007F007F007F00ull) >> 1);
        x = (x & 0x00003FFF00003FFFull) | ((x & 0x3FFF00003FFF0000ull) >> 2);
        x = (x & 0x000000000FFFFFFFull) | ((x & 0x0FFFFFFF00000000ull) >> 4);
        storeLittleEndian64(o, x);
    }
    for (; i + 8 <= m; i += 8) {
        std::uint64_t bits = 0;
        for (int k = 7; k >= 0; --k) bits = (bits << 7) | (bytes[i + static_cast<std::size_t>(k)] & 0x7Fu);
        for (int k = 0; k < 7; ++k) *o++ = static_cast<std::uint8_t>(bits >> (8 * k));
    }
    if (i < m) {
        // r leftover bytes give 7r bits, which round up to r output bytes.
        const auto rest = m - i;
        std::uint64_t bits = 0;
        for (std::size_t k = rest; k-- > 0;) bits = (bits << 7) | (bytes[i + k] & 0x7Fu);
        for (std::size_t k = 0; k < rest; ++k) *o++ = static_cast<std::uint8_t>(bits >> (8 * k));
    }
    return out;
}
