#pragma once

#include <cstddef>
#include <cstdint>

#include "common/Bytes.h"

// Little-endian fields of the device's stored formats. Readers take a pointer the caller has already
// bounds-checked; the record classes check every offset against the bytes they were given first.
struct LittleEndian {
    static uint16_t read16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
    static uint32_t read32(const uint8_t* p)
    {
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
    static uint64_t read64(const uint8_t* p) { return uint64_t(read32(p)) | uint64_t(read32(p + 4)) << 32; }

    static void append32(Bytes& out, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            out.push_back(uint8_t(v >> (8 * i)));
    }
    static void append64(Bytes& out, uint64_t v)
    {
        append32(out, uint32_t(v));
        append32(out, uint32_t(v >> 32));
    }
    static void write32(uint8_t* p, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            p[i] = uint8_t(v >> (8 * i));
    }

    // Whether `length` bytes from `offset` lie within `size` bytes, without overflowing.
    static bool fits(uint64_t offset, uint64_t length, uint64_t size)
    {
        return offset <= size && length <= size - offset;
    }

    // A fixed text field: the bytes before its first zero byte, or all of them.
    static Bytes untilZero(const uint8_t* p, size_t length)
    {
        size_t n = 0;
        while (n < length && p[n] != 0)
            ++n;
        return Bytes(p, p + n);
    }
};
