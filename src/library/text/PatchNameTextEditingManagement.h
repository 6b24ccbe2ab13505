#pragma once

#include <string>
#include <vector>

#include "library/text/EditableText.h"
#include "library/text/TextRuleContext.h"

// The rules of patch names: ASCII of at most 10 bytes while typing (other scripts are tried in Latin
// letters), no forbidden character when editing ends.
class PatchNameTextEditingManagement {
public:
    static constexpr const char* kInvalidMessage = "Patch_InvalidPatchName";

    static bool patchNameInTextView(EditableText& view, const std::vector<TextRange>& ranges,
                                    const std::vector<std::string>& replacements, const TextRuleContext& context);
    static bool patchNameTextShouldEndEditingTextView(const EditableText& view, bool willDisplayDialog,
                                                      const TextRuleContext& context);
    static bool patchNameTextShouldEndEditing(const std::string& text, bool willDisplayDialog,
                                              const TextRuleContext& context);
};
