#include "device/formats/OKVPatch.h"

#include <algorithm>

#include "common/Log.h"
#include "device/formats/LittleEndian.h"
#include "platform/files/FileManager.h"

namespace {

constexpr uint64_t kHeaderSize = 8;     // id and size
constexpr uint64_t kFixedContent = 28;  // gen, usedUnit, supportRegion, reserve, name
constexpr size_t kNameSize = 10;

platform::Error patchError(OKVPatch::ErrorCode code, const std::string& path, const std::string& what)
{
    return platform::Error::make(OKVPatch::kErrorDomain, code, what + ": " + path, {{"path", path}});
}

} // namespace

std::optional<OKVPatch> OKVPatch::initWithData(const uint8_t* data, int64_t sizeData)
{
    if (!data || sizeData < int64_t(kHeaderSize + kFixedContent) || sizeData > kMaxPatchDataSize)
        return std::nullopt;
    const uint64_t length = uint64_t(sizeData);
    const uint64_t declared = LittleEndian::read32(data + 4);
    if (declared > length)
        return std::nullopt;

    OKVPatch patch;
    patch.data_.assign(data, data + length);
    patch.ckID_.assign(reinterpret_cast<const char*>(data), 4);
    // Content positions count from offset 8 and are compared with the size field; every read is also
    // checked against the bytes actually given.
    const uint8_t* content = data + kHeaderSize;
    const uint64_t available = length - kHeaderSize;
    patch.gen_ = LittleEndian::read32(content);
    const uint64_t units = LittleEndian::read32(content + 4);
    if (units > declared)
        return std::nullopt;
    patch.supportRegion_ = LittleEndian::read64(content + 8);
    patch.reserve_ = {content[16], content[17]};
    std::copy_n(content + 18, kNameSize, patch.nameField_.begin());
    const Bytes name = LittleEndian::untilZero(content + 18, kNameSize);
    patch.patchName_.assign(name.begin(), name.end());

    uint64_t q = kFixedContent + 4 * units;
    if (q > declared || q > available)
        return std::nullopt;
    patch.effectTypes_.reserve(units);
    for (uint64_t i = 0; i < units; ++i)
        patch.effectTypes_.push_back(LittleEndian::read32(content + kFixedContent + 4 * i));

    DataChunkPatch* chunks[] = {&patch.commentJP_, &patch.commentEN_, &patch.editBuffer_, &patch.prm_};
    const char* ids[] = {"TXJ1", "TXE1", "EDTB", "PPRM"};
    for (size_t i = 0; i < 4; ++i) {
        if (!LittleEndian::fits(q, 8, available))
            return std::nullopt;
        const uint64_t chunkSize = LittleEndian::read32(content + q + 4);
        if (std::string(reinterpret_cast<const char*>(content + q), 4) != ids[i]
            || !LittleEndian::fits(q + 8, chunkSize, available))
            return std::nullopt;
        chunks[i]->setContent(Bytes(content + q + 8, content + q + 8 + chunkSize));
        q += 8 + chunkSize;
        if (i < 3 && q > declared)
            return std::nullopt;
    }
    return patch;
}

Bytes OKVPatch::getByteData()
{
    Bytes out;
    out.reserve(256);
    for (size_t i = 0; i < 4; ++i)
        out.push_back(i < ckID_.size() ? uint8_t(ckID_[i]) : 0);
    LittleEndian::append32(out, 0);
    LittleEndian::append32(out, gen_);
    LittleEndian::append32(out, usedUnit());
    LittleEndian::append64(out, supportRegion_);
    out.insert(out.end(), reserve_.begin(), reserve_.end());
    out.insert(out.end(), nameField_.begin(), nameField_.end());
    for (uint32_t type : effectTypes_)
        LittleEndian::append32(out, type);
    for (DataChunkPatch* chunk : {&commentJP_, &commentEN_, &editBuffer_, &prm_}) {
        const Bytes bytes = chunk->getByteData();
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    while (out.size() % 4 != 0)
        out.push_back(0);
    LittleEndian::write32(out.data() + 4, uint32_t(out.size()));
    return out;
}

void OKVPatch::setPatchName(std::string name)
{
    nameField_.fill(0);
    std::copy_n(name.begin(), std::min(name.size(), kNameSize), nameField_.begin());
    patchName_ = std::move(name);
}

Bytes OKVPatch::subDataWithData(const Bytes& data)
{
    return LittleEndian::untilZero(data.data(), data.size());
}

std::optional<OKVPatch> OKVPatch::initWithContentsOfFile(platform::FileManager& files, const std::string& path,
                                                         platform::Error* error)
{
    const auto size = files.fileSize(path, error);
    if (!size)
        return std::nullopt;
    if (*size > uint64_t(kMaxPatchDataSize)) {
        RIG_LOG("patch file of %llu bytes refused: %s", static_cast<unsigned long long>(*size), path.c_str());
        if (error)
            *error = patchError(TooLarge, path, "patch file larger than the device can hold");
        return std::nullopt;
    }
    const auto bytes = files.readFile(path, error);
    if (!bytes)
        return std::nullopt;
    auto patch = initWithData(*bytes);
    if (!patch && error)
        *error = patchError(bytes->size() > uint64_t(kMaxPatchDataSize) ? TooLarge : Malformed, path,
                            "not a readable patch");
    return patch;
}

bool OKVPatch::writeToFile(platform::FileManager& files, const std::string& path, platform::Error* error)
{
    const Bytes bytes = getByteData();
    if (bytes.size() > uint64_t(kMaxPatchDataSize)) {
        if (error)
            *error = patchError(TooLarge, path, "patch larger than the device can hold");
        return false;
    }
    return files.writeAtomically(path, bytes, error);
}
