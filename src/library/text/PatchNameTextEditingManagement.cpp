#include "library/text/PatchNameTextEditingManagement.h"

#include "library/CommonUtils.h"
#include "library/text/TextRules.h"
#include "platform/text/Utf8.h"

const char* PatchNameTextEditingManagement::refusalOf(const std::string& name)
{
    if (!platform::Utf8::isValid(name)) return kBrokenCharacterMessage;
    if (name.empty() || TextRules::containsForbiddenCharacter(name)) return kInvalidMessage;
    if (name.find('\0') != std::string::npos) return kNulMessage;
    if (!platform::Utf8::isAscii(name)) return kNotAsciiMessage;
    if (!CommonUtils::validatePatchName(name)) return kTooLongMessage;
    return nullptr;
}

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
    const char* refusal = refusalOf(text);
    return refusal == nullptr || TextRules::refuse(willDisplayDialog, refusal, context);
}
