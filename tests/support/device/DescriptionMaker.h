#pragma once

#include <gtest/gtest.h>
#include <cstring>

#include "device/sequencer/DeviceDescription.h"
#include "device/formats/OKVEffect.h"
#include "device/formats/OKVPatch.h"

// Device descriptions and effect module headers made from the few fields a compatibility or display
// rule reads.
namespace support::descriptionmaker {

inline DeviceDescription withAdvanced(const AdvencedPatchInformation& info)
{
    DeviceDescription description;
    description.advencedPatchInformation = info;
    return description;
}

// Group, bank and patch places all in use: thousands to ones, formats given in that order.
inline AdvencedPatchInformation placesLayout(std::array<int, 4> group, std::array<int, 4> bank, std::array<int, 4> patch)
{
    AdvencedPatchInformation info;
    info.groupDisplayFormat1000 = group[0];
    info.groupDisplayFormat0100 = group[1];
    info.groupDisplayFormat0010 = group[2];
    info.groupDisplayFormat0001 = group[3];
    info.bankDisplayFormat1000 = bank[0];
    info.bankDisplayFormat0100 = bank[1];
    info.bankDisplayFormat0010 = bank[2];
    info.bankDisplayFormat0001 = bank[3];
    info.patchDisplayFormat1000 = patch[0];
    info.patchDisplayFormat0100 = patch[1];
    info.patchDisplayFormat0010 = patch[2];
    info.patchDisplayFormat0001 = patch[3];
    return info;
}

// An effect module file with just its header: generation, regions, levels and unit count.
inline OKVEffect effect(std::uint32_t gen, std::uint64_t regions, const std::array<std::uint8_t, 64>& levels, std::uint8_t units)
{
    Bytes file(OKVEffect::kHeaderEnd, 0);
    std::memcpy(file.data(), "QFXF", 4);
    const std::uint32_t size = OKVEffect::kHeaderEnd - 8;
    for (int i = 0; i < 4; ++i) file[4 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    for (int i = 0; i < 4; ++i) file[12 + i] = static_cast<std::uint8_t>(gen >> (8 * i));
    for (int i = 0; i < 8; ++i) file[16 + i] = static_cast<std::uint8_t>(regions >> (8 * i));
    std::copy(levels.begin(), levels.end(), file.begin() + 24);
    file[88] = units;
    return *OKVEffect::initWithData(file);
}

// A device whose effect support is generation 0x03, the given regions and levels, and 4 units.
inline DeviceDescription effectDevice(std::uint64_t regions, const std::array<std::uint8_t, 64>& levels)
{
    Bytes gen{0x03, 0, 0, 0}, region(8), units{4};
    for (int i = 0; i < 8; ++i) region[i] = static_cast<std::uint8_t>(regions >> (8 * i));
    SupportQFXInformation support;
    support.setGenWithByte(gen.data(), gen.size());
    support.setRegionWithByte(region.data(), region.size());
    support.setRegionLvWithByte(levels.data(), levels.size());
    support.setUseUnitNumWithByte(units.data(), units.size());
    DeviceDescription description;
    description.supportQFXInformation = support;
    return description;
}

}  // namespace support::descriptionmaker
