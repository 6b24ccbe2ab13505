#pragma once

#include <memory>
#include <string>
#include <vector>

#include "library/UnitPatchChange.h"

class BankItem;
class DirectoryObject;
class MainWindowController;
class PatchItem;
class QPushButton;
class QWidget;

// The patch management screen as the main window controller sees it: the device patch list on the left,
// the patch pool on the right, and the operations the controller calls on them. The models are the
// coordinator's.
class PatchScreen {
public:
    using PatchItems = std::vector<std::shared_ptr<PatchItem>>;
    using BankItems = std::vector<std::shared_ptr<BankItem>>;
    using StructureData = std::vector<std::shared_ptr<DirectoryObject>>;

    virtual ~PatchScreen() = default;

    virtual QWidget* view() = 0;
    // Registers the list and the pool as drop targets for patch files and the pool's own drags.
    virtual void initDraggingRegister() = 0;
    virtual void initDraggingOperator() = 0;
    // Held weakly.
    virtual void setMainController(MainWindowController* mainController) = 0;
    virtual void viewDidAppear() = 0;

    virtual const PatchItems& patchItems() const = 0;
    virtual void setPatchItems(PatchItems patchItems) = 0;
    virtual const BankItems& bankItems() const = 0;
    virtual void setBankItems(BankItems bankItems) = 0;
    virtual const StructureData& structureData() const = 0;
    virtual void setStructureData(StructureData structureData) = 0;
    // Patches per bank of the connected device.
    virtual void setNumberOfSlotsInBlank(int numberOfSlots) = 0;

    virtual bool isPatchListLoaded() const = 0;
    virtual void setIsPatchListLoaded(bool loaded) = 0;
    // The Backup-all / Restore-all button, enabled and disabled by the main window controller.
    virtual QPushButton* backUpAllOrRestoreAllButton() = 0;

    // Locking the pool forbids its edits and drops, shows its loading indicator and locks the list too.
    virtual void setLockPatchPool(bool locked) = 0;
    virtual bool isLockPatchPool() const = 0;
    // The list is locked while the pool is, whatever the argument.
    virtual void setlockPatchList(bool locked) = 0;
    // Clears the warning and incompatible marks of every pool entry and reloads the pool.
    virtual void resetPatchPoolState() = 0;

    virtual void reloadData() = 0;
    virtual void reloadDataInPatchList() = 0;
    virtual void reloadDataInPatchPool() = 0;
    // The same for a pool just loaded or marked: the pool shows at once, its warnings (every file read)
    // follow from the background and reload it again.
    virtual void reloadDataInPatchPoolWarningsLater() { reloadDataInPatchPool(); }
    // Shows each vertical ruler exactly when its view is taller than its visible area.
    virtual void validateRuler() = 0;

    // Restore summaries waiting for the result of the whole-list write.
    struct RestoredCount {
        long restoredItems = 0;
        long maxItems = 0;
    };
    virtual std::vector<RestoredCount>& numberOfRestoredDictionaryArray() = 0;
    // Queues the restore result on the dialog queue.
    virtual void displayRestoreDialogWithNumberOfRestoredItems(long restoredItems, long maxItems) = 0;

    // Buffers a patch changed on the device at the slot named `offset` and re-arms the buffered reload;
    // `origin` names the patch the unit changed.
    virtual void updatePatchItem(std::shared_ptr<PatchItem> patchItem, const std::string& offset,
                                 const UnitPatchChange& origin = {}) = 0;
    virtual void setReloadBufferDataTimer() = 0;
    // Ends a name or comment being typed in the list or the pool with its commit, whatever window has
    // the keys.
    virtual void endTextEditing() {}
    // Takes the unit's changes still waiting for the quiet time into the list now, writing back each
    // patch the unit needs again: the unit is about to be let go.
    virtual void takeUnitChangesBeforeItGoes() {}
};
