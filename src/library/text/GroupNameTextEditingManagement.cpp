#include "library/text/GroupNameTextEditingManagement.h"

#include "library/text/TextRules.h"
#include "platform/text/Utf8.h"

#include <string_view>

namespace {

// The replacement without line feeds and line separators (U+2028), in one pass: a pasted text may be
// long and hold many.
std::string oneLine(const std::string& text)
{
    static const std::string_view separator = "\xE2\x80\xA8";
    std::string line;
    line.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        if (text[at] == '\n') {
            ++at;
        } else if (std::string_view(text).substr(at, separator.size()) == separator) {
            at += separator.size();
        } else {
            line += text[at++];
        }
    }
    return line;
}

}  // namespace

bool GroupNameTextEditingManagement::groupNameInTextView(EditableText& view, const std::vector<TextRange>& ranges,
                                                         const std::vector<std::string>& replacements)
{
    if (ranges.empty() || replacements.empty()) return true;
    const TextRange range = ranges.front();
    if (!platform::Utf8::isValid(replacements.front())) return false;
    const std::string cleaned = oneLine(replacements.front());
    const std::string current = view.string();
    if (cleaned == replacements.front()) {
        const auto proposed = TextRange::replacing(current, range, cleaned);
        return proposed && platform::Utf8::utf16Length(*proposed) <= kMaxLength;
    }
    if (view.delegateShouldChangeText(ranges, {cleaned})) {
        if (const auto proposed = TextRange::replacing(current, range, cleaned)) {
            view.setString(*proposed);
            view.setSelectedRange({range.location + platform::Utf8::utf16Length(cleaned), 0});
        }
    }
    return false;
}

bool GroupNameTextEditingManagement::groupNameTextShouldEndEditing(const std::string& text, bool willDisplayDialog,
                                                                   const TextRuleContext& context)
{
    if (!platform::Utf8::isValid(text)) return TextRules::refuse(willDisplayDialog, kBrokenCharacterMessage, context);
    if (!text.empty() && text.front() != '.' && !TextRules::containsForbiddenCharacter(text)) return true;
    return TextRules::refuse(willDisplayDialog, kInvalidMessage, context);
}
