#include "device/formats/DataChunkEffect.h"

#include <cstring>

#include "device/formats/LittleEndian.h"

DataChunkEffect DataChunkEffect::initWithData(const uint8_t* data, uint64_t sizeData, uint64_t position)
{
    DataChunkEffect chunk;
    if (!data || !LittleEndian::fits(position, 8, sizeData))
        return chunk;
    chunk.present_ = true;
    chunk.ckID_.assign(reinterpret_cast<const char*>(data + position), 4);
    chunk.ckSize_ = LittleEndian::read32(data + position + 4);
    if (chunk.ckSize_ != 0 && LittleEndian::fits(position + 8, chunk.ckSize_, sizeData))
        chunk.content_.assign(data + position + 8, data + position + 8 + chunk.ckSize_);
    return chunk;
}

void DataChunkEffect::readInformation()
{
    const auto text = [this](size_t offset, size_t length) {
        const Bytes bytes = LittleEndian::untilZero(content_.data() + offset, length);
        return std::string(bytes.begin(), bytes.end());
    };
    const size_t n = content_.size();
    if (n >= 4)
        flg_ = LittleEndian::read32(content_.data());
    if (n >= 7)
        categoryShortStr_ = text(4, 3);
    if (n >= 13)
        categoryMidStr_ = text(7, 6);
    if (n >= 15)
        ckReserve_ = {content_[13], content_[14]};
    if (n >= 19) {
        const uint32_t bits = LittleEndian::read32(content_.data() + 15);
        std::memcpy(&processingLoad_, &bits, sizeof bits);
    }
}
