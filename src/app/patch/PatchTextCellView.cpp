#include "app/patch/PatchTextCellView.h"

#include "app/patch/PatchCoordinator.h"
#include "app/patch/PatchDialogs.h"
#include "app/shell/AppDelegate.h"
#include "library/models/PatchItem.h"
#include "library/undo/ChangeTextAction.h"
#include "library/undo/UndoController.h"

void PatchTextCellView::clearCell()
{
    patchItem_.reset();
    index_ = 0;
    originalText_.clear();
}

bool PatchTextCellView::makeTextFieldStopEditing()
{
    context_.appDelegate.clearColorEditingTextField();
    context_.appDelegate.clearColorEditingTextView();
    originalText_ = patchItem_ ? committedText() : std::string();
    return true;
}

bool PatchTextCellView::rewrite(std::string& fieldText, std::string& field, int undoType)
{
    // The typed text goes over the patch as the unit holds it, so the unit keeps its own change too.
    if (context_.takeUnitChanges) context_.takeUnitChanges(*patchItem_);
    const std::string oldText = field;
    const auto stored = context_.coordinator.storedPatchTexts(patchItem_->path);
    field = fieldText;
    if (!context_.coordinator.editFilePatch(*patchItem_)) {
        field = oldText;
        fieldText = oldText;
        context_.dialogs.showInformation("Patch_CanNotEditPatchItem", patchItem_->patchName);
        return makeTextFieldStopEditing();
    }
    // The cell and the undo record show what the file holds, which the unit gets too.
    fieldText = field;
    context_.coordinator.writeToDeviceWithPatchItem(patchItem_, static_cast<std::int64_t>(index_));
    context_.appDelegate.setReloadDataFromDeviceTimer();
    auto record = std::make_shared<ChangeTextAction>(patchItem_, oldText, field, undoType);
    if (stored) record->mOldStored = *stored;
    context_.undoController.addActionStack(record);
    return makeTextFieldStopEditing();
}
