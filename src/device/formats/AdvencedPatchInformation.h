#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/Bytes.h"

// How the device's patch memory is laid out and how its patch, bank and group numbers are displayed.
// The display formats ending 0001, 0010, 0100 and 1000 belong to the ones, tens, hundreds and thousands
// places of a displayed number.
class AdvencedPatchInformation {
public:
    // Offset of the group display text in the stored reply; everything before it is fixed.
    static constexpr std::size_t kGroupDisplayTextOffset = 28;

    // Reads the stored advanced patch information reply (F0 and F7 stripped): four 14-bit counts as
    // 7-bit stream pairs, then single raw bytes, then the group display text to the end. Nothing when
    // the reply is shorter than its fixed part.
    static std::optional<AdvencedPatchInformation> fromAdvancedPatchReply(const std::uint8_t* reply, std::size_t size);

    AdvencedPatchInformation copy() const { return *this; }

    std::int32_t totalNumberOfPatch = 0;
    std::int64_t patchDataSize = 0;  // the largest patch a write may send
    std::int32_t numberOfPatchInGroup = 0;
    std::int32_t numberOfPatchInBank = 0;
    std::int32_t patchDisplayMode = 0;
    std::int32_t patchNumberOffset = 0;
    std::int32_t patchDisplayFormat0001 = 0;
    std::int32_t patchDisplayFormat0010 = 0;
    std::int32_t patchDisplayFormat0100 = 0;
    std::int32_t patchDisplayFormat1000 = 0;
    std::int32_t bankNumberOffset = 0;
    std::int32_t bankDisplayFormat0001 = 0;
    std::int32_t bankDisplayFormat0010 = 0;
    std::int32_t bankDisplayFormat0100 = 0;
    std::int32_t bankDisplayFormat1000 = 0;
    std::int32_t groupNumberOffset = 0;
    std::int32_t groupDisplayFormat0001 = 0;
    std::int32_t groupDisplayFormat0010 = 0;
    std::int32_t groupDisplayFormat0100 = 0;
    std::int32_t groupDisplayFormat1000 = 0;
    // Raw bytes with their own length, not a terminated string.
    Bytes groupDisplayText;
};
