// The patch screen's side of undo: the six record handlers hand each record to PatchUndoHandlers, which
// asks the screen to reload, select and write through the callbacks set up here.

#include <algorithm>

#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchDialogs.h"
#include "app/patch/PatchCoordinator.h"
#include "app/patch/PatchListTableModel.h"
#include "app/patch/PatchManagerViewController.h"
#include "app/patch/PatchPoolEditor.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "app/patch/PatchUndoHandlers.h"
#include "app/shell/AppDelegate.h"
#include "library/models/DirectoryObject.h"
#include "library/undo/UndoAction.h"
#include "library/undo/UndoController.h"

void PatchManagerViewController::buildUndoHandlers()
{
    PatchUndoHandlers::Collaborators collaborators{coordinator_};
    collaborators.showMessage = [this](const std::string& key, const std::optional<std::string>& argument) {
        dialogs_.showInformation(key, argument);
    };
    collaborators.reloadPool = [this](const PatchUndoHandlers::Nodes& touched) { reloadDataInPatchPoolForItems(touched); };
    collaborators.clearPoolSelection = [this] {
        if (rightPanelOutlineView_) rightPanelOutlineView_->selectRows({});
    };
    collaborators.reloadList = [this] { reloadDataInPatchList(); };
    collaborators.reloadListRow = [this](std::uint64_t) { reloadDataInPatchList(); };
    collaborators.writeSlot = [this](std::uint64_t index) { updatePatchFileToDevideAtIndex(index); };
    collaborators.writeRange = [this](std::uint64_t location, std::uint64_t length) {
        updatePatchFileToDevideAtRange(location, length);
    };
    collaborators.clearListSelection = [this] {
        if (!patchManagerTableView_) return;
        patchManagerTableView_->clearSelection();
        patchManagerTableView_->resetSelectionData();
    };
    collaborators.selectListRows = [this](const PatchUndoHandlers::Rows& rows) {
        if (patchManagerTableView_) patchManagerTableView_->setUpCurrentSelectionWithIndexSet(rows, false);
    };
    collaborators.selectOnDevice = [this](std::uint64_t row) {
        if (!patchManagerTableView_) return;
        didSelectRowAtIndex(*patchManagerTableView_, row);
        patchManagerTableView_->scrollTo(patchListModel_->index(static_cast<int>(row), 0));
    };
    collaborators.isRestoreAllMode = [this] { return isRestoreAllMode_; };
    collaborators.isSelectedInPool = [this](const DirectoryObject& node) {
        if (!rightPanelOutlineView_) return false;
        const int row = rightPanelOutlineView_->rowForIndex(patchPoolModel_->indexOf(&node));
        const std::vector<int> rows = rightPanelOutlineView_->selectedRowList();
        return row >= 0 && std::find(rows.begin(), rows.end(), row) != rows.end();
    };
    collaborators.leaveRestoreAllMode = [this] {
        setIsRestoreAllMode(false);
        setArrowImageWithBackupAllAndRestoreAllState();
    };
    collaborators.setPatchPoolChanged = [this] { appDelegate_.setIsPatchPoolChanged(true); };
    collaborators.copyAgain = [this](const PatchUndoHandlers::Nodes& nodes, const PatchUndoHandlers::Node& group) {
        patchPoolEditor_->copyAgain(nodes, group);
    };
    undoHandlers_ = std::make_unique<PatchUndoHandlers>(structureData_, patchItems_, std::move(collaborators));
}

void PatchManagerViewController::doUndoActionForChangeText(UndoAction& action) { undoHandlers_->undo(action); }
void PatchManagerViewController::doUndoActionForChangePosition(UndoAction& action) { undoHandlers_->undo(action); }
void PatchManagerViewController::doUndoActionForDragFromPoolToList(UndoAction& action) { undoHandlers_->undo(action); }
void PatchManagerViewController::doUndoActionForAddToPatchPool(UndoAction& action) { undoHandlers_->undo(action); }
void PatchManagerViewController::doUndoActionForSelectionInPatchList(UndoAction& action) { undoHandlers_->undo(action); }
void PatchManagerViewController::doUndoActionForDeleteInPatchPool(UndoAction& action) { undoHandlers_->undo(action); }

// The Undo buttons of both option menus: the stack posts the newest record to the handlers above.
// The menus judge their Undo as they open; the click is judged again, as the wait may have begun since.
void PatchManagerViewController::didClickOnUndoButtonAtIndex(CustomTableViewForPatch&, std::uint64_t)
{
    if (!appDelegate_.isUndoHeld()) undoController_.doUndoAction();
}

void PatchManagerViewController::didClickOnUndoButtonAtItem(PatchPoolOutlineView*, const Node&, const Node&)
{
    if (!appDelegate_.isUndoHeld()) undoController_.doUndoAction();
}
