#include "library/text/PatchCommentTextEditingManagement.h"

#include "library/CommonUtils.h"
#include "library/text/TextRules.h"

bool PatchCommentTextEditingManagement::patchCommentInTextView(EditableText& view, const std::vector<TextRange>& ranges,
                                                               const std::vector<std::string>& replacements,
                                                               const TextRuleContext& context)
{
    const std::string language = context.language;
    // A Japanese comment keeps its own script: nothing is turned into Latin letters.
    return TextRules::filterChange(
        view, ranges, replacements,
        [&language](const std::string& text) { return CommonUtils::validatePatchComment(text, language); },
        language != "ja", context);
}

bool PatchCommentTextEditingManagement::patchCommentTextShouldEndEditingInTextField(const std::string& /*text*/,
                                                                                   bool /*willDisplayDialog*/)
{
    return true;
}

bool PatchCommentTextEditingManagement::patchCommentTextShouldEndEditingInTextView(const EditableText& view,
                                                                                  bool willDisplayDialog)
{
    return patchCommentTextShouldEndEditingInTextField(view.string(), willDisplayDialog);
}
