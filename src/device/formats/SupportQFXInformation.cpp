#include "device/formats/SupportQFXInformation.h"

namespace {

bool copyFixed(Bytes& field, const std::uint8_t* bytes, std::size_t available, std::size_t count)
{
    if (bytes == nullptr || available < count) return false;
    field.assign(bytes, bytes + count);
    return true;
}

}  // namespace

bool SupportQFXInformation::setGenWithByte(const std::uint8_t* bytes, std::size_t available)
{
    return copyFixed(gen, bytes, available, kGenSize);
}

bool SupportQFXInformation::setRegionWithByte(const std::uint8_t* bytes, std::size_t available)
{
    return copyFixed(region, bytes, available, kRegionSize);
}

bool SupportQFXInformation::setRegionLvWithByte(const std::uint8_t* bytes, std::size_t available)
{
    return copyFixed(regionLv, bytes, available, kRegionLvSize);
}

bool SupportQFXInformation::setUseUnitNumWithByte(const std::uint8_t* bytes, std::size_t available)
{
    return copyFixed(useUnitNum, bytes, available, kUseUnitNumSize);
}
