#include "library/text/TextRules.h"

#include <algorithm>

#include "platform/text/Transliteration.h"
#include "platform/text/Utf8.h"

namespace {

constexpr const char* kToLatin = "Any-Latin";
// Latin letters never make a text much shorter, so a text this long cannot come within any limit of the
// rules; it is refused without the costly transform (a pasted megabyte would hold the interface).
constexpr std::size_t kMaximumTransliterated = 4096;

}  // namespace

bool TextRules::containsForbiddenCharacter(const std::string& text)
{
    return text.find_first_of(kForbiddenCharacters) != std::string::npos;
}

bool TextRules::refuse(bool willDisplayDialog, const char* messageKey, const TextRuleContext& context)
{
    if (willDisplayDialog && context.showDialogWithInformation)
        context.showDialogWithInformation(context.localizedString ? context.localizedString(messageKey) : messageKey);
    return false;
}

bool TextRules::filterChange(EditableText& view, const std::vector<TextRange>& ranges,
                             const std::vector<std::string>& replacements,
                             const std::function<bool(const std::string&)>& accepts, bool transliterate,
                             const TextRuleContext& context)
{
    if (ranges.empty() || replacements.empty()) return true;
    const TextRange range = ranges.front();
    const std::string& replacement = replacements.front();
    // Half a character (an unpaired surrogate an editor passed on) is stored by nothing: no retry.
    if (!platform::Utf8::isValid(replacement)) return false;
    const std::string current = view.string();
    auto proposed = TextRange::replacing(current, range, replacement);
    if (!proposed) return false;
    if (accepts(*proposed)) return true;
    if (context.pasteboardString && context.pasteboardString() == replacement) return false;
    if (!transliterate || proposed->size() > kMaximumTransliterated) return false;

    proposed = platform::Transliteration::apply(*proposed, kToLatin);
    auto latin = platform::Transliteration::apply(replacement, kToLatin);
    if (!proposed || !latin) return false;
    if (!latin->empty() && latin->front() == '~') {
        latin->erase(std::remove(latin->begin(), latin->end(), '~'), latin->end());
        proposed = TextRange::replacing(current, range, *latin);
        if (!proposed) return false;
    }
    if (accepts(*proposed)) {
        view.setString(*proposed);
        view.setSelectedRange({range.location + platform::Utf8::utf16Length(*latin), 0});
    }
    return false;
}
