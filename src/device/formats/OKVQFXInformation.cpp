#include "device/formats/OKVQFXInformation.h"

#include <algorithm>

namespace {

constexpr size_t kNameSize = 13;
constexpr size_t kVersionOffset = 13;
constexpr size_t kVersionSize = 4;

// Each non-zero byte is the character of that code.
std::string textFromBytes(const uint8_t* bytes, size_t length)
{
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t b = bytes[i];
        if (b == 0)
            continue;
        if (b < 0x80) {
            text.push_back(char(b));
        } else {
            text.push_back(char(0xC0 | (b >> 6)));
            text.push_back(char(0x80 | (b & 0x3F)));
        }
    }
    return text;
}

// The low 8 bits of each character's code, for at most `limit` characters. A byte that does not start a
// valid UTF-8 sequence counts as one character of its own value.
void bytesFromText(const std::string& text, uint8_t* out, size_t limit)
{
    size_t written = 0;
    for (size_t i = 0; i < text.size() && written < limit;) {
        const auto b = uint8_t(text[i]);
        size_t length = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
        bool valid = length != 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k)
            valid = (uint8_t(text[i + k]) & 0xC0) == 0x80;
        if (!valid) {
            out[written++] = b;
            ++i;
            continue;
        }
        uint32_t code = length == 1 ? b : b & (0x7F >> length);
        for (size_t k = 1; k < length; ++k)
            code = code << 6 | (uint8_t(text[i + k]) & 0x3F);
        out[written++] = uint8_t(code);
        i += length;
    }
}

} // namespace

std::optional<OKVQFXInformation> OKVQFXInformation::initWithByteData(const uint8_t* bytes, int64_t sizeData)
{
    if (!bytes || sizeData < int64_t(kRecordSize))
        return std::nullopt;
    OKVQFXInformation info;
    info.nameQFX_ = textFromBytes(bytes, kNameSize);
    info.versionQFX_ = textFromBytes(bytes + kVersionOffset, kVersionSize);
    info.favoriteQFX_ = bytes[17] != 0;
    info.isLoadedQFX_ = bytes[18] != 0;
    std::copy(bytes + 19, bytes + 23, info.type_.begin());
    return info;
}

Bytes OKVQFXInformation::getByteData() const
{
    Bytes out(kRecordSize, 0);
    bytesFromText(nameQFX_, out.data(), kNameSize);
    bytesFromText(versionQFX_, out.data() + kVersionOffset, kVersionSize);
    out[17] = favoriteQFX_ ? 1 : 0;
    out[18] = isLoadedQFX_ ? 1 : 0;
    std::copy(type_.begin(), type_.end(), out.begin() + 19);
    return out;
}
