#pragma once

#include <cstddef>
#include <cstdint>

#include "common/Bytes.h"

// Which effect modules the device supports. Each with-byte setter copies its fixed count of bytes, so
// the record never shares the reply buffer it came from; a source shorter than that count is refused
// and leaves the field as it was.
class SupportQFXInformation {
public:
    static constexpr std::size_t kGenSize = 4;
    static constexpr std::size_t kRegionSize = 8;
    static constexpr std::size_t kRegionLvSize = 64;
    static constexpr std::size_t kUseUnitNumSize = 1;

    bool setGenWithByte(const std::uint8_t* bytes, std::size_t available);
    bool setRegionWithByte(const std::uint8_t* bytes, std::size_t available);
    bool setRegionLvWithByte(const std::uint8_t* bytes, std::size_t available);
    bool setUseUnitNumWithByte(const std::uint8_t* bytes, std::size_t available);

    Bytes gen;         // effect module generation
    Bytes region;      // supported regions
    Bytes regionLv;    // region levels
    Bytes useUnitNum;  // unit count
};
