#include "app/patch/PatchCommentCellView.h"

#include "library/models/PatchItem.h"
#include "library/text/PatchCommentTextEditingManagement.h"

const std::string& PatchCommentCellView::committedText() const { return patchItem_->patchComment; }

bool PatchCommentCellView::textShouldEndEditing(std::string& fieldText)
{
    if (!patchItem_ || fieldText == patchItem_->patchComment) return makeTextFieldStopEditing();
    // The typing rule saw every way in, but the limit holds here too; the rule shows its own message.
    if (!PatchCommentTextEditingManagement::patchCommentTextShouldEndEditingInTextField(fieldText, true,
                                                                                        context_.textRules)) {
        fieldText = patchItem_->patchComment;
        return makeTextFieldStopEditing();
    }
    return rewrite(fieldText, patchItem_->patchComment, kUndoType);
}

std::size_t PatchCommentCellView::longestText(const EditableText&)
{
    return PatchCommentTextEditingManagement::kMaxBytes;
}

bool PatchCommentCellView::shouldChangeText(EditableText& editor, const std::vector<TextRange>& ranges,
                                  const std::vector<std::string>& replacements)
{
    return PatchCommentTextEditingManagement::patchCommentInTextView(editor, ranges, replacements, context_.textRules);
}
