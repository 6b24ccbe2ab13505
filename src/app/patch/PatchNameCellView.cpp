#include "app/patch/PatchNameCellView.h"

#include "library/models/PatchItem.h"
#include "library/text/PatchNameTextEditingManagement.h"

const std::string& PatchNameCellView::committedText() const { return patchItem_->patchName; }

bool PatchNameCellView::textShouldEndEditing(std::string& fieldText)
{
    if (!patchItem_ || fieldText == patchItem_->patchName) return makeTextFieldStopEditing();
    // The rule shows its own message, an emptied name's too.
    if (!PatchNameTextEditingManagement::patchNameTextShouldEndEditing(fieldText, true, context_.textRules)) {
        fieldText = patchItem_->patchName;
        return makeTextFieldStopEditing();
    }
    return rewrite(fieldText, patchItem_->patchName, kUndoType);
}

std::size_t PatchNameCellView::longestText(const EditableText&) { return PatchNameTextEditingManagement::kMaxBytes; }

bool PatchNameCellView::shouldChangeText(EditableText& editor, const std::vector<TextRange>& ranges,
                                  const std::vector<std::string>& replacements)
{
    return PatchNameTextEditingManagement::patchNameInTextView(editor, ranges, replacements, context_.textRules);
}
