#include "library/text/TextRange.h"

#include "platform/text/Utf8.h"

namespace {

// The byte offset of the UTF-16 offset `units`; nothing past the end or inside a character.
std::optional<std::size_t> byteOffset(const std::string& text, std::size_t units)
{
    std::size_t bytes = 0;
    std::size_t counted = 0;
    while (counted < units) {
        if (bytes >= text.size()) return std::nullopt;
        const auto lead = static_cast<unsigned char>(text[bytes]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        counted += length == 4 ? 2 : 1;
        bytes += length;
    }
    if (counted != units || bytes > text.size()) return std::nullopt;
    return bytes;
}

}  // namespace

std::optional<std::string> TextRange::replacing(const std::string& text, TextRange range, const std::string& replacement)
{
    if (!platform::Utf8::isValid(text)) return std::nullopt;
    const auto begin = byteOffset(text, range.location);
    const auto end = byteOffset(text, range.location + range.length);
    if (!begin || !end) return std::nullopt;
    return text.substr(0, *begin) + replacement + text.substr(*end);
}
