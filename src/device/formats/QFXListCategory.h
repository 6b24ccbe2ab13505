#pragma once

#include <cstdint>
#include <vector>

#include "common/Bytes.h"
#include "device/formats/OKVQFXInformation.h"

// One category block of the device's effect list: an opening record (">>>" and the ID), the effect
// records, and a closing record ("<<<" and the same ID).
class QFXListCategory {
public:
    explicit QFXListCategory(int32_t categoryID = 0) : categoryID_(categoryID) {}
    static QFXListCategory initWithCategoryID(int32_t categoryID) { return QFXListCategory(categoryID); }

    // The block; only the ID's low byte is stored.
    Bytes getByteData() const;
    uint64_t byteSize() const { return OKVQFXInformation::kRecordSize * (arrayQFXInformation_.size() + 2); }

    int32_t categoryID() const { return categoryID_; }
    void setCategoryID(int32_t id) { categoryID_ = id; }
    std::vector<OKVQFXInformation>& arrayQFXInformation() { return arrayQFXInformation_; }
    const std::vector<OKVQFXInformation>& arrayQFXInformation() const { return arrayQFXInformation_; }

private:
    int32_t categoryID_;
    std::vector<OKVQFXInformation> arrayQFXInformation_;
};
