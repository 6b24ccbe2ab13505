#include "device/formats/DataChunkPatch.h"

#include "device/formats/LittleEndian.h"

Bytes DataChunkPatch::getByteData()
{
    if (ckID_ == "TXJ1" || ckID_ == "TXE1") {
        while (content_.size() % 4 != 0)
            content_.push_back(0);
    }
    Bytes out;
    out.reserve(8 + content_.size());
    for (size_t i = 0; i < 4; ++i)
        out.push_back(i < ckID_.size() ? uint8_t(ckID_[i]) : 0);
    LittleEndian::append32(out, ckSize());
    out.insert(out.end(), content_.begin(), content_.end());
    return out;
}
