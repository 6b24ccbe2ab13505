#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/Bytes.h"

// One chunk of an effect module file: four id bytes, a 32-bit content length, the content. A chunk
// whose header lies beyond the file is absent (no id, size 0); one whose content runs past the end of the
// file keeps its id and size but has no content.
class DataChunkEffect {
public:
    DataChunkEffect() = default;
    // The chunk at `position` of the `sizeData` bytes of `data`.
    static DataChunkEffect initWithData(const uint8_t* data, uint64_t sizeData, uint64_t position);

    bool isPresent() const { return present_; }
    const std::string& ckID() const { return ckID_; }
    uint32_t ckSize() const { return ckSize_; }
    const Bytes& content() const { return content_; }

    // The information block's fields, read when this chunk is the information chunk; fields the content
    // is too short for stay 0 or empty.
    void readInformation();
    uint32_t flg() const { return flg_; }
    const std::string& categoryShortStr() const { return categoryShortStr_; }
    const std::string& categoryMidStr() const { return categoryMidStr_; }
    const std::array<uint8_t, 2>& ckReserve() const { return ckReserve_; }
    float processingLoad() const { return processingLoad_; }

private:
    bool present_ = false;
    std::string ckID_;
    uint32_t ckSize_ = 0;
    Bytes content_;
    uint32_t flg_ = 0;
    std::string categoryShortStr_;
    std::string categoryMidStr_;
    std::array<uint8_t, 2> ckReserve_{};
    float processingLoad_ = 0;
};
