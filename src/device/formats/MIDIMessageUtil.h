#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/Bytes.h"

// The device's SysEx packings. Between F0 and F7 only 7-bit bytes may travel, so every 8-bit value the
// program and the device exchange goes through one of these. None keeps state; every multi-byte value is
// least significant first. Decoders are handed the bytes actually available and never read past them.

// Bytes that `Convert87` writes for `length` source bytes: one header per group of seven.
constexpr std::int64_t packedSize87(std::int64_t length)
{
    return length <= 0 ? 0 : length + (length + 6) / 7;
}

// MSB-header packing: per group of up to seven bytes a header whose bit 6 carries the first byte's top
// bit (bit 0 the seventh's), then the group's bytes with the top bit cleared. Returns the count written,
// or -1 (writing nothing) when `capacity` cannot hold `packedSize87(length)` bytes. A negative length
// packs nothing.
std::int32_t Convert87(std::uint8_t* destination, std::size_t capacity, const std::uint8_t* source,
                       std::int32_t length);
// The same packing appended to `destination`, the way request builders assemble a message.
void Convert87(Bytes& destination, const std::uint8_t* source, std::size_t length);

// The five-byte form of a 32-bit value: bits 0-6, 7-13, 14-20, 21-27, then 28-31.
void Convert32to7(std::uint32_t value, std::uint8_t* destination);
void Convert32to7(std::uint32_t value, Bytes& destination);
// Reads five bytes back, ignoring bit 7 of the first four; nothing when fewer than five are available.
std::optional<std::uint32_t> Convert7to32(const std::uint8_t* bytes, std::size_t available);

// CRC-32 over the reflected polynomial 0xEDB88320, seeded with 0xFFFFFFFF and, as the device computes it,
// never inverted at the end: the complement of the usual CRC-32 of the same bytes.
std::uint64_t CalcCrc32(const std::uint8_t* bytes, std::int64_t length);
std::uint64_t updateCRC32(std::uint64_t crc, std::uint8_t byte);

class MIDIMessageUtil {
public:
    // MSB-header unpacking: floor(7m / 8) bytes. A header alone at the end adds nothing.
    static Bytes convert78(const std::uint8_t* bytes, std::int64_t length);
    // The little-endian 7-bit stream: n bytes become ceil(8n / 7) bytes with bit 7 clear.
    static Bytes convert87Type2(const std::uint8_t* bytes, std::int64_t length);
    // Its inverse: m bytes become ceil(7m / 8); the last may hold only leftover bits.
    static Bytes convert78Type2(const std::uint8_t* bytes, std::int64_t length);
};
