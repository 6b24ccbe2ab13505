#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/Bytes.h"
#include "device/formats/DataChunkPatch.h"
#include "platform/error/Error.h"

namespace platform {
class FileManager;
}

// One patch record, as the device sends and stores it and as ".qptc" files hold it: "PTCF", the record
// length, generation, unit count, regions, name, one effect type per unit, then the chunks "TXJ1" (Japanese
// comment), "TXE1" (English comment), "EDTB" (edit buffer) and "PPRM" (parameters) in that order, padded
// with zero bytes to a multiple of 4.
class OKVPatch {
public:
    // The largest record the device's patch data message can carry. Nothing larger is read or written:
    // such a record could never be sent, and cutting it would corrupt it.
    static constexpr int64_t kMaxPatchDataSize = 878;
    static constexpr const char* kErrorDomain = "OKVPatch";
    enum ErrorCode { TooLarge = 1, Malformed = 2 };

    OKVPatch() = default;

    // Parses a record; nothing when it is refused: longer than kMaxPatchDataSize, a size field beyond the
    // given bytes, a unit count or chunk beyond the size field, a chunk out of order, or any field that
    // would need bytes beyond the given ones.
    static std::optional<OKVPatch> initWithData(const uint8_t* data, int64_t sizeData);
    static std::optional<OKVPatch> initWithData(const Bytes& data) { return initWithData(data.data(), int64_t(data.size())); }

    // Reads a patch file; a file larger than kMaxPatchDataSize is refused before it is read.
    static std::optional<OKVPatch> initWithContentsOfFile(platform::FileManager& files, const std::string& path,
                                                          platform::Error* error = nullptr);
    // Writes the record to a file atomically; a record that has grown beyond kMaxPatchDataSize is refused
    // and the file keeps its old contents.
    bool writeToFile(platform::FileManager& files, const std::string& path, platform::Error* error = nullptr);

    // The record built from the fields (comment chunks padded, the length filled in at offset 4).
    Bytes getByteData();

    // The bytes before the first zero byte, or all of them.
    static Bytes subDataWithData(const Bytes& data);

    // The bytes the record was read from.
    const Bytes& data() const { return data_; }
    int64_t size() const { return int64_t(data_.size()); }

    const std::string& ckID() const { return ckID_; }
    void setCkID(std::string id) { ckID_ = std::move(id); }
    uint32_t gen() const { return gen_; }
    void setGen(uint32_t gen) { gen_ = gen; }
    uint64_t supportRegion() const { return supportRegion_; }
    void setSupportRegion(uint64_t mask) { supportRegion_ = mask; }
    const std::array<uint8_t, 2>& reserve() const { return reserve_; }
    void setReserve(const std::array<uint8_t, 2>& reserve) { reserve_ = reserve; }
    // The name field's bytes up to its first zero byte. A record read keeps the whole field as stored
    // until a name is set; a set name is cut to 10 bytes and padded with zero bytes.
    const std::string& patchName() const { return patchName_; }
    void setPatchName(std::string name);
    // One type per effect unit; the unit count follows the list.
    uint32_t usedUnit() const { return uint32_t(effectTypes_.size()); }
    const std::vector<uint32_t>& effectTypes() const { return effectTypes_; }
    void setEffectTypes(std::vector<uint32_t> types) { effectTypes_ = std::move(types); }

    DataChunkPatch& commentJP() { return commentJP_; }
    const DataChunkPatch& commentJP() const { return commentJP_; }
    DataChunkPatch& commentEN() { return commentEN_; }
    const DataChunkPatch& commentEN() const { return commentEN_; }
    DataChunkPatch& editBuffer() { return editBuffer_; }
    const DataChunkPatch& editBuffer() const { return editBuffer_; }
    DataChunkPatch& prm() { return prm_; }
    const DataChunkPatch& prm() const { return prm_; }

private:
    Bytes data_;
    std::string ckID_ = "PTCF";
    uint32_t gen_ = 0;
    uint64_t supportRegion_ = 0;
    std::array<uint8_t, 2> reserve_{};
    std::string patchName_;
    std::array<uint8_t, 10> nameField_{};
    std::vector<uint32_t> effectTypes_;
    DataChunkPatch commentJP_{"TXJ1", {}};
    DataChunkPatch commentEN_{"TXE1", {}};
    DataChunkPatch editBuffer_{"EDTB", {}};
    DataChunkPatch prm_{"PPRM", {}};
};
