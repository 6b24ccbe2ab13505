#include "library/text/PatchCommentTextEditingManagement.h"

#include "library/CommonUtils.h"
#include "library/text/TextRules.h"
#include "platform/text/ShiftJis.h"
#include "platform/text/Utf8.h"

const char* PatchCommentTextEditingManagement::refusalOf(const std::string& comment, const std::string& language)
{
    if (!platform::Utf8::isValid(comment)) return kBrokenCharacterMessage;
    if (CommonUtils::validatePatchComment(comment, language)) return nullptr;
    if (comment.find('\0') != std::string::npos) return kNulMessage;
    if (language != "ja") return platform::Utf8::isAscii(comment) ? kTooLongMessage : kNotAsciiMessage;
    const auto encoded = platform::ShiftJis::encode(comment);
    if (!encoded || !CommonUtils::readsBackAsWritten(comment, *encoded)) return kNotShiftJisMessage;
    return kTooLongMessage;
}

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

bool PatchCommentTextEditingManagement::patchCommentTextShouldEndEditingInTextField(const std::string& text,
                                                                                   bool willDisplayDialog,
                                                                                   const TextRuleContext& context)
{
    const char* refusal = refusalOf(text, context.language);
    return refusal == nullptr || TextRules::refuse(willDisplayDialog, refusal, context);
}

bool PatchCommentTextEditingManagement::patchCommentTextShouldEndEditingInTextView(const EditableText& view,
                                                                                  bool willDisplayDialog,
                                                                                  const TextRuleContext& context)
{
    return patchCommentTextShouldEndEditingInTextField(view.string(), willDisplayDialog, context);
}
