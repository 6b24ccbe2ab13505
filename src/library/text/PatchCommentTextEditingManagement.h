#pragma once

#include <string>
#include <vector>

#include "library/text/EditableText.h"
#include "library/text/TextRuleContext.h"

// The rules of patch comments: at most 200 bytes, ASCII, or Shift-JIS for the "ja" interface; any
// character may stay when editing ends.
class PatchCommentTextEditingManagement {
public:
    static bool patchCommentInTextView(EditableText& view, const std::vector<TextRange>& ranges,
                                       const std::vector<std::string>& replacements, const TextRuleContext& context);
    static bool patchCommentTextShouldEndEditingInTextField(const std::string& text, bool willDisplayDialog);
    static bool patchCommentTextShouldEndEditingInTextView(const EditableText& view, bool willDisplayDialog);
};
