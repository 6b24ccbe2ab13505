#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "common/Bytes.h"
#include "device/formats/DataChunkEffect.h"

// An effect module file: a header (what the effect supports and needs, its names, type and colour) and
// the chunks icon, Japanese text, English text, information block and program data. These files come
// from the server's archives and the device's file system, so the reader trusts no length in them.
class OKVEffect {
public:
    // The header's fixed fields end here; a shorter file is refused.
    static constexpr uint64_t kHeaderEnd = 125;

    OKVEffect() = default;
    // Nothing when the file is shorter than its header (the fixed fields, or the header length it gives).
    // Chunks beyond the end of the file are absent; a chunk running past it has no content.
    static std::optional<OKVEffect> initWithData(const uint8_t* data, int64_t sizeData);
    static std::optional<OKVEffect> initWithData(const Bytes& data) { return initWithData(data.data(), int64_t(data.size())); }

    // Only the type, unit count and name.
    OKVEffect copy() const;

    static Bytes subDataWithData(const Bytes& data);
    static uint64_t checkPointer(uint64_t position) { return (position + 3) & ~uint64_t(3); }

    const std::string& ckID() const { return ckID_; }
    uint32_t ckSize() const { return ckSize_; }
    uint32_t crc() const { return crc_; }
    uint32_t gen() const { return gen_; }
    uint64_t supportRegion() const { return supportRegion_; }
    const std::array<uint8_t, 64>& regionLevels() const { return regionLevels_; }
    uint8_t useUnitNum() const { return useUnitNum_; }
    const std::string& version() const { return version_; }
    const std::array<uint8_t, 2>& reserve() const { return reserve_; }
    uint8_t category() const { return category_; }
    uint32_t type() const { return type_; }
    const std::string& typeName() const { return typeName_; }
    const std::string& categoryLongStr() const { return categoryLongStr_; }
    uint8_t dispColorR() const { return dispColorR_; }
    uint8_t dispColorG() const { return dispColorG_; }
    uint8_t dispColorB() const { return dispColorB_; }

    const DataChunkEffect& icon() const { return icon_; }
    const DataChunkEffect& textCkJP() const { return textCkJP_; }
    const DataChunkEffect& textCkEN() const { return textCkEN_; }
    const DataChunkEffect& infoCk() const { return infoCk_; }
    const DataChunkEffect& dataCk() const { return dataCk_; }

private:
    std::string ckID_;
    uint32_t ckSize_ = 0;
    uint32_t crc_ = 0;
    uint32_t gen_ = 0;
    uint64_t supportRegion_ = 0;
    std::array<uint8_t, 64> regionLevels_{};
    uint8_t useUnitNum_ = 0;
    std::string version_;
    std::array<uint8_t, 2> reserve_{};
    uint8_t category_ = 0;
    uint32_t type_ = 0;
    std::string typeName_;
    std::string categoryLongStr_;
    uint8_t dispColorR_ = 0;
    uint8_t dispColorG_ = 0;
    uint8_t dispColorB_ = 0;
    DataChunkEffect icon_;
    DataChunkEffect textCkJP_;
    DataChunkEffect textCkEN_;
    DataChunkEffect infoCk_;
    DataChunkEffect dataCk_;
};
