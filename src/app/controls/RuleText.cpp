#include "app/controls/RuleText.h"

#include <algorithm>

#include "platform/text/Utf8.h"

std::string RuleText::of(const QString& text)
{
    if (std::none_of(text.cbegin(), text.cend(), [](QChar c) { return c.isSurrogate(); })) return text.toStdString();
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()) * 3);
    qsizetype at = 0;
    while (at < text.size()) {
        const QChar c = text.at(at);
        if (c.isHighSurrogate() && at + 1 < text.size() && text.at(at + 1).isLowSurrogate()) {
            platform::Utf8::append(bytes, QChar::surrogateToUcs4(c, text.at(at + 1)));
            at += 2;
            continue;
        }
        // A lone surrogate goes out as its own unit: three bytes no UTF-8 reader takes.
        platform::Utf8::append(bytes, c.unicode());
        ++at;
    }
    return bytes;
}
