#include "library/text/PatchNameTextEditingManagement.h"

#include "library/CommonUtils.h"
#include "library/text/TextRules.h"

bool PatchNameTextEditingManagement::patchNameInTextView(EditableText& view, const std::vector<TextRange>& ranges,
                                                         const std::vector<std::string>& replacements,
                                                         const TextRuleContext& context)
{
    return TextRules::filterChange(
        view, ranges, replacements, [](const std::string& text) { return CommonUtils::validatePatchName(text); }, true,
        context);
}

bool PatchNameTextEditingManagement::patchNameTextShouldEndEditingTextView(const EditableText& view,
                                                                           bool willDisplayDialog,
                                                                           const TextRuleContext& context)
{
    return patchNameTextShouldEndEditing(view.string(), willDisplayDialog, context);
}

bool PatchNameTextEditingManagement::patchNameTextShouldEndEditing(const std::string& text, bool willDisplayDialog,
                                                                   const TextRuleContext& context)
{
    // A name set by a property sheet never went through the typing filter, so its limits apply here too.
    if (!TextRules::containsForbiddenCharacter(text) && CommonUtils::validatePatchName(text)) return true;
    return TextRules::refuse(willDisplayDialog, kInvalidMessage, context);
}
