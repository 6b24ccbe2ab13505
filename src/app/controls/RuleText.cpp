#include "app/controls/RuleText.h"

#include <algorithm>

std::string RuleText::of(const QString& text)
{
    if (std::none_of(text.cbegin(), text.cend(), [](QChar c) { return c.isSurrogate(); })) return text.toStdString();
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()) * 3);
    qsizetype at = 0;
    const auto append = [&bytes](char32_t unit) {
        if (unit < 0x80) {
            bytes += static_cast<char>(unit);
        } else if (unit < 0x800) {
            bytes += static_cast<char>(0xC0 | (unit >> 6));
            bytes += static_cast<char>(0x80 | (unit & 0x3F));
        } else if (unit < 0x10000) {
            bytes += static_cast<char>(0xE0 | (unit >> 12));
            bytes += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            bytes += static_cast<char>(0xF0 | (unit >> 18));
            bytes += static_cast<char>(0x80 | ((unit >> 12) & 0x3F));
            bytes += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            bytes += static_cast<char>(0x80 | (unit & 0x3F));
        }
    };
    while (at < text.size()) {
        const QChar c = text.at(at);
        if (c.isHighSurrogate() && at + 1 < text.size() && text.at(at + 1).isLowSurrogate()) {
            append(QChar::surrogateToUcs4(c, text.at(at + 1)));
            at += 2;
            continue;
        }
        // A lone surrogate goes out as its own unit: three bytes no UTF-8 reader takes.
        append(c.unicode());
        ++at;
    }
    return bytes;
}
