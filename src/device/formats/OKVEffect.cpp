#include "device/formats/OKVEffect.h"

#include <algorithm>

#include "device/formats/LittleEndian.h"

namespace {

std::string text(const uint8_t* p, size_t length)
{
    const Bytes bytes = LittleEndian::untilZero(p, length);
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

std::optional<OKVEffect> OKVEffect::initWithData(const uint8_t* data, int64_t sizeData)
{
    if (!data || sizeData < int64_t(kHeaderEnd))
        return std::nullopt;
    const uint64_t size = uint64_t(sizeData);
    OKVEffect effect;
    effect.ckID_.assign(reinterpret_cast<const char*>(data), 4);
    effect.ckSize_ = LittleEndian::read32(data + 4);
    if (!LittleEndian::fits(8, effect.ckSize_, size))
        return std::nullopt;

    // Field offsets as laid out; the alignment rule before gen, supportRegion and type never moves them.
    effect.crc_ = LittleEndian::read32(data + 8);
    effect.gen_ = LittleEndian::read32(data + 12);
    effect.supportRegion_ = LittleEndian::read64(data + 16);
    std::copy_n(data + 24, 64, effect.regionLevels_.begin());
    effect.useUnitNum_ = data[88];
    effect.version_ = text(data + 89, 4);
    effect.reserve_ = {data[93], data[94]};
    effect.category_ = data[95];
    effect.type_ = LittleEndian::read32(data + 96);
    effect.typeName_ = text(data + 100, 11);
    effect.categoryLongStr_ = text(data + 111, 11);
    effect.dispColorR_ = data[122];
    effect.dispColorG_ = data[123];
    effect.dispColorB_ = data[124];

    uint64_t position = 8 + uint64_t(effect.ckSize_);
    for (DataChunkEffect* chunk :
         {&effect.icon_, &effect.textCkJP_, &effect.textCkEN_, &effect.infoCk_, &effect.dataCk_}) {
        *chunk = DataChunkEffect::initWithData(data, size, position);
        position += 8 + uint64_t(chunk->ckSize());
    }
    effect.infoCk_.readInformation();
    return effect;
}

OKVEffect OKVEffect::copy() const
{
    OKVEffect copied;
    copied.type_ = type_;
    copied.useUnitNum_ = useUnitNum_;
    copied.typeName_ = typeName_;
    return copied;
}

Bytes OKVEffect::subDataWithData(const Bytes& data)
{
    return LittleEndian::untilZero(data.data(), data.size());
}
