#include "device/formats/QFXListCategory.h"

#include <algorithm>

Bytes QFXListCategory::getByteData() const
{
    constexpr size_t record = OKVQFXInformation::kRecordSize;
    Bytes out(byteSize(), 0);
    std::fill_n(out.begin(), 3, uint8_t(0x3E));
    out[4] = uint8_t(categoryID_);
    size_t offset = record;
    for (const OKVQFXInformation& info : arrayQFXInformation_) {
        const Bytes bytes = info.getByteData();
        std::copy(bytes.begin(), bytes.end(), out.begin() + offset);
        offset += record;
    }
    std::fill_n(out.begin() + offset, 3, uint8_t(0x3C));
    out[offset + 4] = uint8_t(categoryID_);
    return out;
}
