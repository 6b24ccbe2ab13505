#include "device/sequencer/DeviceDescription.h"

#include <array>
#include <cstdint>

#include "device/formats/OKVEffect.h"
#include "device/formats/OKVPatch.h"

namespace {

struct Place {
    std::int32_t divisor;
    std::int32_t format;
};

// Appends the thousands, hundreds, tens and ones places of a number under their formats. Format 4
// takes the character of the group text table (four per group, stored from the ones place upwards)
// when there is a table; only groups have one, so elsewhere it adds nothing.
void appendPlaces(std::string& label, std::int32_t value, const std::array<Place, 4>& places,
                  const Bytes* table = nullptr)
{
    std::int64_t tableIndex = 3;
    for (const Place& place : places) {
        if (table != nullptr && place.format == 4) {
            const std::int64_t at = 4 * static_cast<std::int64_t>(value) + tableIndex;
            // A group beyond the table the device sent has no character.
            if (at >= 0 && at < static_cast<std::int64_t>(table->size())) {
                const auto character = (*table)[static_cast<std::size_t>(at)];
                if (character != 0) label += static_cast<char>(character);
            }
        } else if (place.divisor == 1) {
            label += DeviceDescription::getCharWithOffset(value, static_cast<std::uint8_t>(place.format));
        } else {
            label += DeviceDescription::getCharWithOffset(value / place.divisor,
                                                          static_cast<std::uint8_t>(place.format));
            value %= place.divisor;
        }
        --tableIndex;
    }
}

// Adds like the device's 32-bit arithmetic, without overflow being undefined.
std::int32_t wrappingAdd(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

bool allZero(const std::array<Place, 4>& places)
{
    for (const Place& place : places)
        if (place.format != 0) return false;
    return true;
}

// The first byte of a record field, 0 when the field is empty.
std::uint8_t firstByte(const Bytes& field) { return field.empty() ? 0 : field[0]; }

// Eight bytes of supported regions as one mask, bit 0 in the first byte.
std::uint64_t regionMask(const Bytes& field)
{
    std::uint64_t mask = 0;
    for (std::size_t i = 0; i < field.size() && i < 8; ++i) mask |= static_cast<std::uint64_t>(field[i]) << (8 * i);
    return mask;
}

}  // namespace

bool DeviceDescription::checkEffectCompatible(const OKVEffect& effect) const
{
    if (!supportQFXInformation) return false;
    const SupportQFXInformation& device = *supportQFXInformation;
    if ((firstByte(device.gen) & effect.gen()) == 0) return false;

    const std::uint64_t shared = regionMask(device.region) & effect.supportRegion();
    if (shared == 0) return false;
    // The set bits of the shared regions, lowest first: the last binary digit is region 0.
    const std::string digits = toBinary(static_cast<std::int64_t>(shared));
    bool levelMet = false;
    for (std::size_t region = 0; region < digits.size() && !levelMet; ++region) {
        if (digits[digits.size() - 1 - region] != '1') continue;
        const std::uint8_t deviceLevel = region < device.regionLv.size() ? device.regionLv[region] : 0;
        levelMet = deviceLevel >= effect.regionLevels()[region];
    }
    if (!levelMet) return false;

    return firstByte(device.useUnitNum) >= effect.useUnitNum();
}

bool DeviceDescription::checkPatchCompatible(const OKVPatch& patch) const
{
    if (!supportPatchInformation) return false;
    const SupportPatchInformation& device = *supportPatchInformation;
    if ((firstByte(device.gen) & patch.gen()) == 0) return false;
    if ((regionMask(device.region) & patch.supportRegion()) == 0) return false;
    return firstByte(device.useUnitNum) >= (patch.usedUnit() & 0xFFU);
}

std::string DeviceDescription::toBinary(std::int64_t value)
{
    auto bits = static_cast<std::uint64_t>(value);
    if (bits == 0) return "0";
    std::string digits;
    while (bits != 0) {
        digits.insert(digits.begin(), (bits & 1U) != 0 ? '1' : '0');
        bits >>= 1U;
    }
    return digits;
}

std::string DeviceDescription::getCharWithOffset(std::int32_t value, std::uint8_t type)
{
    switch (type) {
    case 1:
        return std::to_string(value);
    case 2:
        return std::string(1, value >= 0 && value <= 8 ? static_cast<char>('A' + value) : 'J');
    case 3:
        return std::string(1, value >= 0 && value <= 8 ? static_cast<char>('a' + value) : 'j');
    default:
        return {};
    }
}

std::string DeviceDescription::getOffsetNameOfPatchWithNumGroup(std::int32_t numGroup, std::int32_t numBank,
                                                                std::int32_t numPatch) const
{
    if (!advencedPatchInformation) return {};
    const AdvencedPatchInformation& info = *advencedPatchInformation;

    if (info.patchDisplayMode != 0) {
        // Widened so that odd layouts from the device cannot overflow.
        std::int64_t number = static_cast<std::int64_t>(numGroup) * info.numberOfPatchInGroup +
                              static_cast<std::int64_t>(numBank) * info.numberOfPatchInBank + numPatch;
        if (info.patchDisplayMode == 2) ++number;
        return std::to_string(number);
    }

    const std::array<Place, 4> groupPlaces{{{1000, info.groupDisplayFormat1000},
                                            {100, info.groupDisplayFormat0100},
                                            {10, info.groupDisplayFormat0010},
                                            {1, info.groupDisplayFormat0001}}};
    std::string label;
    appendPlaces(label, wrappingAdd(numGroup, info.groupNumberOffset), groupPlaces, &info.groupDisplayText);
    if (!allZero(groupPlaces)) label += ':';

    const std::array<Place, 4> bankPlaces{{{1000, info.bankDisplayFormat1000},
                                           {100, info.bankDisplayFormat0100},
                                           {10, info.bankDisplayFormat0010},
                                           {1, info.bankDisplayFormat0001}}};
    appendPlaces(label, wrappingAdd(numBank, info.bankNumberOffset), bankPlaces);
    if (!allZero(bankPlaces)) label += ':';

    const std::array<Place, 4> patchPlaces{{{1000, info.patchDisplayFormat1000},
                                            {100, info.patchDisplayFormat0100},
                                            {10, info.patchDisplayFormat0010},
                                            {1, info.patchDisplayFormat0001}}};
    appendPlaces(label, wrappingAdd(numPatch, info.patchNumberOffset), patchPlaces);
    return label;
}
