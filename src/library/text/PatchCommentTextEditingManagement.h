#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "library/text/EditableText.h"
#include "library/text/TextRuleContext.h"

// The rules of patch comments: at most 200 bytes and no NUL, ASCII, or Shift-JIS for the "ja"
// interface, while typing and again when editing ends (a text can reach a view by ways no key press
// takes).
class PatchCommentTextEditingManagement {
public:
    // The longest comment the unit keeps, in bytes.
    static constexpr std::size_t kMaxBytes = 200;
    // Each refusal tells what is wrong with the comment.
    static constexpr const char* kNulMessage = "Patch_NulInPatchComment";
    static constexpr const char* kNotAsciiMessage = "Patch_NonAsciiPatchComment";
    static constexpr const char* kNotShiftJisMessage = "Patch_UnencodablePatchComment";
    static constexpr const char* kTooLongMessage = "Patch_LongPatchComment";
    static constexpr const char* kBrokenCharacterMessage = "Patch_BrokenCharacterInPatchComment";

    // The message key of what keeps the comment from being stored; none for a comment that may be.
    static const char* refusalOf(const std::string& comment, const std::string& language);
    static bool patchCommentInTextView(EditableText& view, const std::vector<TextRange>& ranges,
                                       const std::vector<std::string>& replacements, const TextRuleContext& context);
    static bool patchCommentTextShouldEndEditingInTextField(const std::string& text, bool willDisplayDialog,
                                                            const TextRuleContext& context);
    static bool patchCommentTextShouldEndEditingInTextView(const EditableText& view, bool willDisplayDialog,
                                                           const TextRuleContext& context);
};
