#pragma once

#include <string>
#include <vector>

#include "library/text/EditableText.h"
#include "library/text/TextRuleContext.h"

// The rules of pool group names: one line of at most 50 characters while typing; not empty, not
// beginning with "." and no forbidden character when editing ends; never half a character (text that is
// not whole UTF-8).
class GroupNameTextEditingManagement {
public:
    static constexpr const char* kInvalidMessage = "Patch_InvalidGroupName";
    static constexpr const char* kBrokenCharacterMessage = "Patch_BrokenCharacterInGroupName";
    static constexpr std::size_t kMaxLength = 50;

    static bool groupNameInTextView(EditableText& view, const std::vector<TextRange>& ranges,
                                    const std::vector<std::string>& replacements);
    static bool groupNameTextShouldEndEditing(const std::string& text, bool willDisplayDialog,
                                              const TextRuleContext& context);
};
