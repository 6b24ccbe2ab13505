#include "platform/text/Transliteration.h"

#include <memory>
#include <unicode/translit.h>
#include <unicode/unistr.h>

#include "platform/text/Utf8.h"

namespace platform {

std::optional<std::string> Transliteration::apply(const std::string& utf8, const std::string& transform)
{
    if (!Utf8::isValid(utf8))
        return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> transliterator(icu::Transliterator::createInstance(
        icu::UnicodeString::fromUTF8(transform), UTRANS_FORWARD, status));
    if (U_FAILURE(status) || !transliterator)
        return std::nullopt;
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(utf8);
    transliterator->transliterate(text);
    std::string result;
    text.toUTF8String(result);
    return result;
}

}  // namespace platform
