#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "library/text/EditableText.h"
#include "library/text/TextRuleContext.h"

// The rules of patch names: ASCII of at most 10 bytes while typing (other scripts are tried in Latin
// letters); when editing ends, not empty, no forbidden character and the typing limits again (a text
// can reach a field by ways no key press takes).
class PatchNameTextEditingManagement {
public:
    // The longest name the unit keeps, in bytes.
    static constexpr std::size_t kMaxBytes = 10;
    // Each refusal tells what is wrong with the name; an empty name and a forbidden character share the
    // one message every patch-name refusal has always shown.
    static constexpr const char* kInvalidMessage = "Patch_InvalidPatchName";
    static constexpr const char* kNotAsciiMessage = "Patch_NonAsciiPatchName";
    static constexpr const char* kNulMessage = "Patch_NulInPatchName";
    static constexpr const char* kTooLongMessage = "Patch_LongPatchName";
    static constexpr const char* kBrokenCharacterMessage = "Patch_BrokenCharacterInPatchName";

    // The message key of what keeps the name from being stored; none for a name that may be.
    static const char* refusalOf(const std::string& name);

    static bool patchNameInTextView(EditableText& view, const std::vector<TextRange>& ranges,
                                    const std::vector<std::string>& replacements, const TextRuleContext& context);
    static bool patchNameTextShouldEndEditingTextView(const EditableText& view, bool willDisplayDialog,
                                                      const TextRuleContext& context);
    static bool patchNameTextShouldEndEditing(const std::string& text, bool willDisplayDialog,
                                              const TextRuleContext& context);
};
