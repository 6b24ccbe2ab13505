#include "platform/plist/BinaryPlistLayout.h"

#include <cstring>

namespace platform {

namespace {

constexpr std::size_t kTrailerSize = 32;
constexpr std::size_t kHeaderSize = 8;

}  // namespace

std::uint64_t BinaryPlistLayout::readBigEndian(const std::uint8_t* bytes, std::size_t width)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value = (value << 8) | bytes[i];
    return value;
}

std::string BinaryPlistLayout::readTrailer()
{
    if (size_ < kHeaderSize + 2 + kTrailerSize)
        return "binary property list is truncated";
    if (std::memcmp(data_, "bplist00", kHeaderSize) != 0)
        return "binary property list has an unknown header";
    const std::uint8_t* trailer = data_ + size_ - kTrailerSize;
    offsetWidth_ = trailer[6];
    refWidth_ = trailer[7];
    count_ = readBigEndian(trailer + 8, 8);
    top_ = readBigEndian(trailer + 16, 8);
    tableStart_ = readBigEndian(trailer + 24, 8);
    if (offsetWidth_ < 1 || offsetWidth_ > 8 || refWidth_ < 1 || refWidth_ > 8)
        return "binary property list has invalid integer widths";
    const std::uint64_t tableLimit = size_ - kTrailerSize;
    if (tableStart_ < kHeaderSize || tableStart_ >= tableLimit)
        return "binary property list offset table lies outside the file";
    if (count_ == 0 || count_ > (tableLimit - tableStart_) / offsetWidth_)
        return "binary property list object count does not fit the file";
    if (top_ >= count_)
        return "binary property list top object is out of range";
    return {};
}

bool BinaryPlistLayout::isKey(const Object& key) const
{
    if (key.type != 0x5 && key.type != 0x6)
        return false;
    const std::uint8_t* text = data_ + key.start;
    if (key.type == 0x5)
        return std::memchr(text, 0, key.payload) == nullptr;
    for (std::uint64_t i = 0; i + 1 < key.payload; i += 2) {
        if (text[i] == 0 && text[i + 1] == 0)
            return false;
    }
    return true;
}

std::string BinaryPlistLayout::object(std::uint64_t index, Object& out) const
{
    const std::uint64_t offset = readBigEndian(data_ + tableStart_ + index * offsetWidth_, offsetWidth_);
    if (offset < kHeaderSize || offset >= tableStart_)
        return "binary property list object offset is out of range";
    const std::uint8_t marker = data_[offset];
    const unsigned type = marker >> 4;
    const unsigned info = marker & 0x0F;
    std::uint64_t position = offset + 1;
    out = Object{};
    out.type = type;
    out.marker = marker;
    switch (type) {
    case 0x0:
        return {};
    case 0x1:
    case 0x2:
        if (info > 4)
            return "binary property list number has an invalid width";
        return fits(position, std::uint64_t(1) << info, 1, out);
    case 0x3:
        return fits(position, 8, 1, out);
    case 0x8:
        return fits(position, info + 1, 1, out);
    default:
        break;
    }
    std::uint64_t length = info;
    if (info == 0x0F) {
        if (position >= tableStart_)
            return "binary property list length lies outside the objects";
        const std::uint8_t lengthMarker = data_[position];
        if ((lengthMarker >> 4) != 0x1 || (lengthMarker & 0x0F) > 3)
            return "binary property list length is malformed";
        const std::uint64_t width = std::uint64_t(1) << (lengthMarker & 0x0F);
        if (position + 1 + width > tableStart_)
            return "binary property list length lies outside the objects";
        length = readBigEndian(data_ + position + 1, width);
        position += 1 + width;
    }
    switch (type) {
    case 0x4:
    case 0x5:
        return fits(position, length, 1, out);
    case 0x6:
        return fits(position, length, 2, out);
    case 0xA:
    case 0xC:
    case 0xD: {
        const std::uint64_t refs = type == 0xD ? length * 2 : length;
        if (type == 0xD && length > UINT64_MAX / 2)
            return "binary property list container is too large";
        if (std::string why = fits(position, refs, refWidth_, out); !why.empty())
            return why;
        out.refStart = position;
        out.refCount = refs;
        out.payload = 0;
        out.dictionary = type == 0xD;
        return {};
    }
    default:
        return "binary property list holds an unknown object type";
    }
}

std::uint64_t BinaryPlistLayout::ref(const Object& object, std::uint64_t i) const
{
    return readBigEndian(data_ + object.refStart + i * refWidth_, refWidth_);
}

std::string BinaryPlistLayout::fits(std::uint64_t position, std::uint64_t count, std::uint64_t width,
                                    Object& out) const
{
    if (position > tableStart_ || count > (tableStart_ - position) / width)
        return "binary property list object runs past the object area";
    out.start = position;
    out.payload = count * width;
    return {};
}

}  // namespace platform
