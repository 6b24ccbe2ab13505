#include "library/text/GroupNameTextEditingManagement.h"

#include "library/text/TextRules.h"
#include "platform/text/Utf8.h"

namespace {

// The replacement without line feeds and line separators (U+2028).
std::string oneLine(std::string text)
{
    static const std::string separator = "\xE2\x80\xA8";
    for (std::size_t at; (at = text.find(separator)) != std::string::npos;) text.erase(at, separator.size());
    std::erase(text, '\n');
    return text;
}

}  // namespace

bool GroupNameTextEditingManagement::groupNameInTextView(EditableText& view, const std::vector<TextRange>& ranges,
                                                         const std::vector<std::string>& replacements)
{
    if (ranges.empty() || replacements.empty()) return true;
    const TextRange range = ranges.front();
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
    if (!text.empty() && text.front() != '.' && !TextRules::containsForbiddenCharacter(text)) return true;
    return TextRules::refuse(willDisplayDialog, kInvalidMessage, context);
}
