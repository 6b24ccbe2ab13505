#pragma once

#include <cstdint>
#include <string>

#include "common/Bytes.h"

// One tagged chunk of a patch record: four ASCII characters, a 32-bit content length, the content.
class DataChunkPatch {
public:
    DataChunkPatch() = default;
    DataChunkPatch(std::string ckID, Bytes content) : ckID_(std::move(ckID)), content_(std::move(content)) {}

    const std::string& ckID() const { return ckID_; }
    void setCkID(std::string id) { ckID_ = std::move(id); }
    uint32_t ckSize() const { return uint32_t(content_.size()); }
    const Bytes& content() const { return content_; }
    void setContent(Bytes content) { content_ = std::move(content); }

    // The chunk as stored. The comment chunks ("TXJ1", "TXE1") are first padded with zero bytes to a
    // multiple of 4, and the padding stays in the content (so `ckSize` grows); other chunks go out as held.
    Bytes getByteData();

private:
    std::string ckID_;
    Bytes content_;
};
