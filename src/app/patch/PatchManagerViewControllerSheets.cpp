// The patch screen's property sheets: a device list patch's, a pool patch's and a pool group's. Each
// opens through the dialog queue, works on a copy (a group's sheet on the group itself, which keeps its
// old name until the folder has moved), and on Save rewrites the file or moves the folder, pushes one
// undo record and ends the sheet.

#include <algorithm>
#include <utility>

#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchCoordinator.h"
#include "app/patch/PatchDialogs.h"
#include "app/patch/PatchGroupPropertyViewController.h"
#include "app/patch/PatchManagerViewController.h"
#include "app/patch/PatchPoolEditor.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "app/patch/PatchPropertyViewController.h"
#include "app/shell/AppDelegate.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "library/undo/ChangeTextAction.h"
#include "library/undo/UndoController.h"

namespace {

constexpr const char* kCanNotEditPatchItem = "Patch_CanNotEditPatchItem";
constexpr const char* kCanNotRenamePatchGroup = "Patch_CanNotRenamePatchGroup";
constexpr const char* kFileExist = "Patch_FileExist";

// The sheets' end codes.
constexpr int kListSheetSaved = 1;
constexpr int kListSheetCancelled = 2;
constexpr int kPoolSheetSaved = 3;
constexpr int kPoolSheetCancelled = 4;

bool contains(const std::vector<std::shared_ptr<DirectoryObject>>& nodes, const DirectoryObject* node)
{
    return std::any_of(nodes.begin(), nodes.end(), [node](const auto& each) { return each.get() == node; });
}

}  // namespace

PatchPropertyViewController* PatchManagerViewController::patchPropertyViewController() const
{
    return patchPropertyViewController_;
}

PatchGroupPropertyViewController* PatchManagerViewController::patchGroupPropertyViewController() const
{
    return patchGroupPropertyViewController_;
}

bool PatchManagerViewController::isInPool(const Node& item, const Node& group) const
{
    if (!item) return false;
    if (!group) return contains(structureData_, item.get());
    return contains(structureData_, group.get()) && contains(group->childDirectories, item.get());
}

QWidget* PatchManagerViewController::openPatchPropertySheet(std::uint64_t index)
{
    // The list may have changed since the click.
    if (index >= patchItems_.size() || !patchItems_[index]) return nullptr;
    const std::shared_ptr<PatchItem> original = patchItems_[index];
    // What the unit reported of it already shows in the sheet. A save of ours may have gone to the unit
    // before its report came, over the change: the merge then goes to the unit now, whatever the sheet ends
    // with, or the unit keeps our older copy while the list shows its change.
    bool unitNeedsIt = false;
    if (takeUnitChangesOf(*original, &unitNeedsIt) && patchManagerTableView_) patchManagerTableView_->viewport()->update();
    if (unitNeedsIt) updatePatchFileToDevideAtIndex(index);
    const std::shared_ptr<PatchItem> edited = original->copy();
    auto* sheet = new PatchPropertyViewController(appDelegate_, textRules_);
    patchPropertyViewController_ = sheet;
    sheet->setPatchItem(edited);
    QPointer<PatchManagerViewController> self(this);
    QPointer<PatchPropertyViewController> weakSheet(sheet);
    const auto end = [self, weakSheet](int code) {
        if (!self) return;
        self->appDelegate_.setIsShowingDialog(false);
        self->dialogs_.endSheet(weakSheet, code);
    };
    sheet->setCancelActionBlock([end] { end(kListSheetCancelled); });
    sheet->setSaveActionBlock([self, original, edited, end, opened = std::make_pair(edited->patchName, edited->patchComment)] {
        if (!self) return;
        // The sheet's copy is the patch as it opened: the unit may have changed the list's patch since,
        // still buffered or already applied by a quiet time. Only the texts the sheet changed go, over the
        // list's patch as it stands with the unit's change taken, so the save never writes the old copy.
        const bool nameEdited = edited->patchName != opened.first;
        const bool commentEdited = edited->patchComment != opened.second;
        if (!nameEdited && !commentEdited) {
            end(kListSheetSaved);
            return;
        }
        // The unit is being let go: its write would queue behind the eject and never reach it. The sheet
        // ends as cancelled, nothing shown as saved; the busy line says why.
        if (self->appDelegate_.isLettingDeviceGo()) {
            end(kListSheetCancelled);
            return;
        }
        self->takeUnitChangesOf(*original);
        auto saved = original->copy();
        const auto stored = self->coordinator_.storedPatchTexts(original->path);
        if (nameEdited) saved->patchName = edited->patchName;
        if (commentEdited) saved->patchComment = edited->patchComment;
        if (!self->coordinator_.editFilePatch(*saved)) {
            self->dialogs_.showInformation(kCanNotEditPatchItem, original->patchName);
            end(kListSheetSaved);
            return;
        }
        auto record = std::make_shared<ChangeTextAction>();
        record->mType = 5;
        record->mOldText = original->patchName;
        record->mOldSecondText = original->patchComment;
        record->mNewText = saved->patchName;
        record->mNewSecondText = saved->patchComment;
        if (stored) record->mOldStored = *stored;
        // The list keeps the same object, with the new texts.
        original->overwriteAllDataFromPatchItem(*saved);
        record->mItem = original;
        self->undoController_.addActionStack(record);
        const auto& items = self->patchItems_;
        const auto slot = std::find(items.begin(), items.end(), original);
        if (slot != items.end()) self->updatePatchFileToDevideAtIndex(static_cast<std::uint64_t>(slot - items.begin()));
        self->appDelegate_.setIsShowingDialog(false);
        if (self->patchManagerTableView_) self->patchManagerTableView_->reloadData();
        end(kListSheetSaved);
    });
    QWidget* view = sheet->view();
    sheet->setSelection();
    appDelegate_.setIsShowingDialog(true);
    return view;
}

QWidget* PatchManagerViewController::openPoolPropertySheet(const Node& item, const Node& group)
{
    // The pool may have changed since the click.
    if (!isInPool(item, group)) return nullptr;
    QPointer<PatchManagerViewController> self(this);
    QWidget* view = nullptr;
    if (!group && item->isGroup) {
        auto* sheet = new PatchGroupPropertyViewController(textRules_);
        patchGroupPropertyViewController_ = sheet;
        sheet->setGroup(item);
        const std::string oldName = item->name.value_or("");
        QPointer<PatchGroupPropertyViewController> weakSheet(sheet);
        const auto end = [self, weakSheet](int code) {
            if (!self) return;
            self->appDelegate_.setIsShowingDialog(false);
            self->dialogs_.endSheet(weakSheet, code);
        };
        sheet->setCancelActionBlock([end] { end(kPoolSheetCancelled); });
        sheet->setSaveActionBlock([self, item, oldName, end] {
            if (!self) return;
            const std::string newName = item->name.value_or("");
            // A change of letter case moves the folder too: the group's folder is found by its name.
            if (newName != oldName) {
                item->name = oldName;
                const std::int32_t result = self->patchPoolEditor_->renameGroupFolder(item, newName);
                if (result == 2 || result == 1) {
                    item->name = oldName;
                    if (result == 2) self->dialogs_.showInformation(kCanNotRenamePatchGroup, oldName);
                    else self->dialogs_.showInformation(kFileExist);
                    end(kPoolSheetSaved);
                    return;
                }
                self->reloadDataInPatchPoolForItems({});
                self->undoController_.addActionStack(std::make_shared<ChangeTextAction>(item, oldName, newName, 4));
                self->appDelegate_.setIsPatchPoolChanged(true);
            }
            end(kPoolSheetSaved);
        });
        view = sheet->view();
        sheet->setSelection();
    } else {
        if (item->patchItem() == nullptr) return nullptr;
        auto* sheet = new PatchPropertyViewController(appDelegate_, textRules_);
        patchPropertyViewController_ = sheet;
        const std::shared_ptr<PatchItem> edited = item->patchItem()->copy();
        const std::shared_ptr<PatchItem> old = item->patchItem()->copy();
        sheet->setPatchItem(edited);
        sheet->setIsPatchInBackupAllGroup(group && group->isBackUpAllGroup);
        QPointer<PatchPropertyViewController> weakSheet(sheet);
        const auto end = [self, weakSheet](int code) {
            if (!self) return;
            self->appDelegate_.setIsShowingDialog(false);
            self->dialogs_.endSheet(weakSheet, code);
        };
        sheet->setCancelActionBlock([end] { end(kPoolSheetCancelled); });
        sheet->setSaveActionBlock([self, item, group, edited, old, end] {
            if (!self) return;
            if (edited->patchName != old->patchName || edited->patchComment != old->patchComment) {
                // The sheet may have opened before the patch's copy landed in the pool: its file is the one
                // the node names once its own copy has landed, never the file it was copied from. Copies of
                // other patches go on.
                if (const PatchItem* shown = item->patchItem()) self->coordinator_.settlePoolWorkFor({shown->path});
                const PatchItem* landed = self->isInPool(item, group) ? item->patchItem() : nullptr;
                if (landed == nullptr || landed->path.empty()) {
                    self->dialogs_.showInformation(kCanNotEditPatchItem, old->patchName);
                    end(kPoolSheetSaved);
                    return;
                }
                edited->path = landed->path;
                const auto stored = self->coordinator_.storedPatchTexts(landed->path);
                if (!self->coordinator_.editFilePatch(*edited)) {
                    self->dialogs_.showInformation(kCanNotEditPatchItem, old->patchName);
                    end(kPoolSheetSaved);
                    return;
                }
                item->name = edited->patchName;
                item->object = edited;
                auto record = std::make_shared<ChangeTextAction>(item, old->patchName, edited->patchName, 6);
                record->mOldSecondText = old->patchComment;
                record->mNewSecondText = edited->patchComment;
                if (stored) record->mOldStored = *stored;
                if (group) record->mGroupOfItem = group;
                self->undoController_.addActionStack(record);
                if (self->rightPanelOutlineView_) self->rightPanelOutlineView_->reloadData();
                self->appDelegate_.setIsPatchPoolChanged(true);
            }
            end(kPoolSheetSaved);
        });
        view = sheet->view();
        sheet->setSelection();
    }
    appDelegate_.setIsShowingDialog(true);
    return view;
}
