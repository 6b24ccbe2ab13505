#pragma once

#include <cstdint>
#include <vector>

#include "common/Bytes.h"
#include "device/formats/QFXListCategory.h"

// The device's effect list file "FLST_SEQ.QT2": 26-byte records grouped into category blocks. Records
// outside a block, a block never closed and bytes short of a whole record are not part of the list.
// Written back, the file never becomes shorter than the one read: freed space is left as zero records.
class OKVQFXList {
public:
    static constexpr const char* kFileName = "FLST_SEQ.QT2";

    OKVQFXList() = default;
    static OKVQFXList initWithByteData(const uint8_t* bytes, int64_t sizeData);
    static OKVQFXList initWithByteData(const Bytes& bytes) { return initWithByteData(bytes.data(), int64_t(bytes.size())); }

    // Grows `dataSize` to the blocks' total when they have outgrown it, then lays the blocks out from
    // offset 0 in a zero-filled file of `dataSize` bytes.
    Bytes getByteData();
    void updateSizeData();

    std::vector<QFXListCategory>& arrayCategory() { return arrayCategory_; }
    const std::vector<QFXListCategory>& arrayCategory() const { return arrayCategory_; }
    int64_t dataSize() const { return dataSize_; }
    void setDataSize(int64_t size) { dataSize_ = size; }
    // The bytes read ended inside a block, whose records the list therefore lacks.
    bool endsInsideBlock() const { return endsInsideBlock_; }

private:
    std::vector<QFXListCategory> arrayCategory_;
    int64_t dataSize_ = 0;
    bool endsInsideBlock_ = false;
};
