#include "device/formats/OKVQFXList.h"

#include <algorithm>
#include <optional>

namespace {

bool marks(const uint8_t* record, uint8_t mark)
{
    return record[0] == mark && record[1] == mark && record[2] == mark;
}

} // namespace

OKVQFXList OKVQFXList::initWithByteData(const uint8_t* bytes, int64_t sizeData)
{
    constexpr uint64_t record = OKVQFXInformation::kRecordSize;
    OKVQFXList list;
    const uint64_t size = bytes && sizeData > 0 ? uint64_t(sizeData) : 0;
    list.dataSize_ = int64_t(size);
    std::optional<QFXListCategory> open;
    for (uint64_t offset = 0; record <= size - offset; offset += record) {
        const uint8_t* r = bytes + offset;
        if (!open) {
            if (marks(r, 0x3E))
                open.emplace(r[4]);
        } else if (marks(r, 0x3C) && r[4] == uint8_t(open->categoryID())) {
            list.arrayCategory_.push_back(std::move(*open));
            open.reset();
        } else {
            open->arrayQFXInformation().push_back(*OKVQFXInformation::initWithByteData(r, int64_t(record)));
        }
    }
    list.endsInsideBlock_ = open.has_value();
    return list;
}

void OKVQFXList::updateSizeData()
{
    uint64_t total = 0;
    for (const QFXListCategory& category : arrayCategory_)
        total += category.byteSize();
    if (int64_t(total) > dataSize_)
        dataSize_ = int64_t(total);
}

Bytes OKVQFXList::getByteData()
{
    updateSizeData();
    Bytes out(size_t(std::max<int64_t>(dataSize_, 0)), 0);
    size_t offset = 0;
    for (const QFXListCategory& category : arrayCategory_) {
        const Bytes block = category.getByteData();
        std::copy(block.begin(), block.end(), out.begin() + offset);
        offset += block.size();
    }
    return out;
}
