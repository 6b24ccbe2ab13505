#include "device/formats/OKVSimpleEffect.h"

#include "device/formats/LittleEndian.h"

std::optional<OKVSimpleEffect> OKVSimpleEffect::initWithData(const uint8_t* data, int64_t sizeData)
{
    constexpr int64_t kNameEnd = 111;
    if (!data || sizeData < kNameEnd)
        return std::nullopt;
    OKVSimpleEffect effect;
    effect.useUnitNum_ = data[88];
    effect.type_ = LittleEndian::read32(data + 96);
    const Bytes name = LittleEndian::untilZero(data + 100, 11);
    effect.typeName_.assign(name.begin(), name.end());
    const Bytes version = LittleEndian::untilZero(data + 89, 4);
    effect.version_.assign(version.begin(), version.end());
    return effect;
}
