#include "platform/image/XBMReader.h"

#include <cctype>
#include <cstring>
#include <vector>

namespace platform {
namespace {

// Reads the C text of an X bitmap: skips space and comments, takes words and numbers.
class Scanner {
public:
    Scanner(const std::uint8_t* data, std::size_t size) : m_data(reinterpret_cast<const char*>(data)), m_size(size) {}

    bool atEnd() { return skipSpace(), m_at >= m_size; }
    char peek() { return skipSpace(), m_at < m_size ? m_data[m_at] : '\0'; }
    void advance() { ++m_at; }
    bool take(const char* text)
    {
        skipSpace();
        const std::size_t length = std::strlen(text);
        if (m_size - m_at < length || std::memcmp(m_data + m_at, text, length) != 0) return false;
        m_at += length;
        return true;
    }
    std::string word()
    {
        skipSpace();
        const std::size_t start = m_at;
        while (m_at < m_size && (std::isalnum(static_cast<unsigned char>(m_data[m_at])) || m_data[m_at] == '_')) ++m_at;
        return std::string(m_data + start, m_at - start);
    }
    // A decimal or "0x" hexadecimal number; nothing when there is none or it passes 32 bits.
    std::optional<std::uint32_t> number()
    {
        skipSpace();
        int base = 10;
        if (m_size - m_at >= 2 && m_data[m_at] == '0' && (m_data[m_at + 1] == 'x' || m_data[m_at + 1] == 'X')) {
            base = 16;
            m_at += 2;
        }
        std::uint64_t value = 0;
        std::size_t digits = 0;
        for (; m_at < m_size; ++m_at, ++digits) {
            const char c = m_data[m_at];
            int digit = -1;
            if (c >= '0' && c <= '9') digit = c - '0';
            else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
            if (digit < 0) break;
            value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
            if (value > 0xFFFFFFFFu) return std::nullopt;
        }
        if (digits == 0) return std::nullopt;
        return static_cast<std::uint32_t>(value);
    }

private:
    void skipSpace()
    {
        while (m_at < m_size) {
            const char c = m_data[m_at];
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++m_at;
            } else if (c == '/' && m_at + 1 < m_size && m_data[m_at + 1] == '*') {
                const char* close = static_cast<const char*>(memmem(m_data + m_at + 2, m_size - m_at - 2, "*/", 2));
                m_at = close ? static_cast<std::size_t>(close - m_data) + 2 : m_size;
            } else if (c == '/' && m_at + 1 < m_size && m_data[m_at + 1] == '/') {
                while (m_at < m_size && m_data[m_at] != '\n') ++m_at;
            } else {
                return;
            }
        }
    }

    const char* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

bool endsWith(const std::string& text, const char* suffix)
{
    const std::size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

std::nullopt_t refuse(std::string& reason, const char* text)
{
    reason = text;
    return std::nullopt;
}

}  // namespace

bool XBMReader::looksLikeXBM(const std::uint8_t* data, std::size_t size)
{
    Scanner scanner(data, size);
    return scanner.take("#define");
}

std::optional<BitmapImageRep> XBMReader::decode(const std::uint8_t* data, std::size_t size, std::string& reason)
{
    Scanner scanner(data, size);
    std::optional<std::uint32_t> width, height;
    bool words = false, sawBits = false;
    // The defines, then the array's declaration up to its opening brace.
    while (!scanner.atEnd() && scanner.peek() != '{') {
        if (scanner.take("#define")) {
            const std::string name = scanner.word();
            const std::optional<std::uint32_t> value = scanner.number();
            if (!value) return refuse(reason, "An X bitmap's definition has no number");
            if (endsWith(name, "_width") || name == "width") width = value;
            else if (endsWith(name, "_height") || name == "height") height = value;
            continue;
        }
        const std::string word = scanner.word();
        if (word.empty()) {
            scanner.advance();
        } else if (word == "short") {
            words = true;
        } else if (endsWith(word, "_bits") || word == "bits") {
            sawBits = true;
        }
    }
    if (!width || !height) return refuse(reason, "An X bitmap names no width or height");
    if (!sawBits || !scanner.take("{")) return refuse(reason, "An X bitmap has no bits");
    if (!BitmapImageRep::fits(*width, *height)) return refuse(reason, "The X bitmap is empty or larger than the decoder allows");

    // The values first: their count, bounded by the text, says whether the bitmap is whole before its
    // pixels are made.
    const std::uint32_t limit = words ? 0xFFFFu : 0xFFu;
    std::vector<std::uint16_t> values;
    while (true) {
        if (scanner.take("}")) break;
        const std::optional<std::uint32_t> value = scanner.number();
        if (!value || *value > limit) return refuse(reason, "An X bitmap's bits are no numbers of their size");
        values.push_back(static_cast<std::uint16_t>(*value));
        if (scanner.take(",")) continue;
        if (scanner.take("}")) break;
        return refuse(reason, "An X bitmap's bits are not a list");
    }
    const std::uint64_t unit = words ? 16 : 8;
    const std::uint64_t perRow = (*width + unit - 1) / unit;
    if (values.size() < perRow * *height) return refuse(reason, "An X bitmap has fewer bits than its size needs");

    std::vector<std::uint8_t> pixels(std::size_t{*width} * *height * 4, 0);
    for (std::uint64_t y = 0; y < *height; ++y) {
        for (std::uint64_t x = 0; x < *width; ++x) {
            const std::uint16_t value = values[static_cast<std::size_t>(y * perRow + x / unit)];
            if ((value >> (x % unit)) & 1) pixels[static_cast<std::size_t>((y * *width + x) * 4 + 3)] = 0xFF;
        }
    }
    return BitmapImageRep::withPixels(*width, *height, std::move(pixels));
}

}  // namespace platform
