#include "platform/text/Utf8.h"

#include <cstdint>

namespace platform {
namespace {

// The length of the well-formed sequence at `at` and whether it lies above the basic plane, or a
// length of 0 when the bytes there are ill-formed.
struct Sequence {
    std::size_t length = 0;
    bool supplementary = false;
};

Sequence sequenceAt(std::string_view text, std::size_t at)
{
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    std::uint8_t lead = byte(at);
    if (lead < 0x80)
        return {1, false};
    std::size_t length;
    std::uint8_t low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;  // overlong
        if (lead == 0xED)
            high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;  // overlong
        if (lead == 0xF4)
            high = 0x8F;  // above U+10FFFF
    } else {
        return {};
    }
    if (text.size() - at < length)
        return {};
    if (byte(at + 1) < low || byte(at + 1) > high)
        return {};
    for (std::size_t i = 2; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80)
            return {};
    return {length, length == 4};
}

}  // namespace

bool Utf8::isValid(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        Sequence sequence = sequenceAt(text, at);
        if (sequence.length == 0)
            return false;
        at += sequence.length;
    }
    return true;
}

bool Utf8::isAscii(std::string_view text)
{
    for (char c : text)
        if (static_cast<std::uint8_t>(c) >= 0x80)
            return false;
    return true;
}

std::size_t Utf8::utf16Length(std::string_view text)
{
    std::size_t units = 0;
    for (std::size_t at = 0; at < text.size();) {
        Sequence sequence = sequenceAt(text, at);
        units += sequence.supplementary ? 2 : 1;
        at += sequence.length == 0 ? 1 : sequence.length;
    }
    return units;
}

void Utf8::append(std::string& out, std::uint32_t codePoint)
{
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

}  // namespace platform
