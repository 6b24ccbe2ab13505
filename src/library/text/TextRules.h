#pragma once

#include <functional>
#include <string>
#include <vector>

#include "library/text/EditableText.h"
#include "library/text/TextRuleContext.h"

// The steps the name and comment rules share.
class TextRules {
public:
    // The characters no patch or group name keeps when its editing ends.
    static constexpr const char* kForbiddenCharacters = ":*?<>|\\/\"";

    static bool containsForbiddenCharacter(const std::string& text);
    // The end checks' failure: queues the sheet of `messageKey` when asked to; always false.
    static bool refuse(bool willDisplayDialog, const char* messageKey, const TextRuleContext& context);

    // The typing filter of patch names and comments: a replacement that is not whole UTF-8 is refused;
    // a change `accepts` takes goes through; a paste that
    // it refuses is refused whole; otherwise the change is tried once more in Latin letters and, when
    // that passes, applied here. `transliterate` false refuses instead of trying.
    static bool filterChange(EditableText& view, const std::vector<TextRange>& ranges,
                             const std::vector<std::string>& replacements,
                             const std::function<bool(const std::string&)>& accepts, bool transliterate,
                             const TextRuleContext& context);
};
