#pragma once

#include <QFont>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/patch/BackupPatch.h"
#include "app/patch/PatchFileTrail.h"
#include "app/patch/PatchPoolDataSource.h"
#include "app/patch/PatchPoolOutlineViewDelegate.h"
#include "app/patch/TableViewForPatchRightClickDelegate.h"
#include "app/patch/TableViewForUtilityDelegate.h"
#include "app/screens/PatchScreen.h"
#include "library/text/TextRuleContext.h"
#include "platform/notifications/NotificationCenter.h"

class AppDelegate;
class CustomScroller;
class CustomTableViewForPatch;
class DeleteAction;
class PatchCoordinator;
class PatchDragMimeData;
class PatchGroupPropertyViewController;
class PatchPropertyViewController;
class PatchDialogs;
class PatchListItemDelegate;
class PatchListTableModel;
class PatchPoolEditor;
class PatchPoolModel;
class PatchPoolOutlineView;
class PatchUndoHandlers;
class BackupAllRestoreAll;
class QLabel;
class UndoAction;
class UndoController;

// The patch screen: the device patch list on the left, the patch pool on the right and the Backup All /
// Restore All button between them. It keeps the screen's lists and modes, answers both views, and sends
// every file and device operation to the coordinator, every undo record to the undo stack and every
// message to the dialog queue. Main thread only.
class PatchManagerViewController final : public QObject,
                                         public PatchScreen,
                                         public TableViewForPatchRightClickDelegate,
                                         public TableViewForUtilityDelegate,
                                         public BackupPatch,
                                         public PatchPoolOutlineViewDelegate,
                                         public PatchPoolDataSource {
    Q_OBJECT
public:
    // The button's left edge, from the left pane's right edge.
    static constexpr int kBackUpButtonOffset = 73;
    static constexpr int kHeaderHeight = 25;

    // Loads the fonts the screen's lists and buttons draw in, and their common glyphs, into the font
    // caches: the first showing of the screen would otherwise find and load each font in the middle of
    // its first paint. Any thread that may paint (the interface's).
    static void loadFontsAhead();

    struct Collaborators {
        AppDelegate& appDelegate;
        PatchCoordinator& coordinator;
        UndoController& undoController;
        // Where the undo stack posts its records.
        platform::NotificationCenter& notificationCenter;
        PatchDialogs& dialogs;
        TextRuleContext textRules;
        // The quiet time before device-side changes are applied ("kTime_Of_Reload_Buffer_Data").
        std::int64_t reloadBufferDataSeconds = 0;
    };

    explicit PatchManagerViewController(Collaborators collaborators);
    ~PatchManagerViewController() override;

    // ---- PatchScreen ----
    QWidget* view() override { return view_; }
    void initDraggingRegister() override;
    void initDraggingOperator() override;
    void setMainController(MainWindowController* mainController) override { mainController_ = mainController; }
    void viewDidAppear() override;
    const PatchItems& patchItems() const override { return patchItems_; }
    void setPatchItems(PatchItems patchItems) override { patchItems_ = std::move(patchItems); }
    const BankItems& bankItems() const override { return bankItems_; }
    void setBankItems(BankItems bankItems) override { bankItems_ = std::move(bankItems); }
    const StructureData& structureData() const override { return structureData_; }
    void setStructureData(StructureData structureData) override
    {
        structureData_ = std::move(structureData);
        poolJudgedAgainst_.reset();
    }
    void setNumberOfSlotsInBlank(int numberOfSlots) override;
    bool isPatchListLoaded() const override { return isPatchListLoaded_; }
    void setIsPatchListLoaded(bool loaded) override { isPatchListLoaded_ = loaded; }
    // None once the window has deleted the view.
    QPushButton* backUpAllOrRestoreAllButton() override { return backUpAllOrRestoreAllButton_; }
    void setLockPatchPool(bool locked) override;
    bool isLockPatchPool() const override { return isLockPatchPool_; }
    void setlockPatchList(bool locked) override;
    void resetPatchPoolState() override;
    void reloadData() override;
    void reloadDataInPatchList() override;
    void reloadDataInPatchPool() override;
    void reloadDataInPatchPoolWarningsLater() override;
    // Reloads the pool's view and judges again the warnings of the patches in `touched` (groups for
    // their patches), off the main thread; the rest of the pool keeps its marks.
    void reloadDataInPatchPoolForItems(const StructureData& touched);
    // Whether files are being read or copied for the pool off the main thread.
    bool isPatchPoolWorking() const { return poolWorks_ > 0; }
    QWidget* patchPoolIndicator() const { return patchPoolIndicator_; }
    void validateRuler() override;
    std::vector<RestoredCount>& numberOfRestoredDictionaryArray() override { return numberOfRestoredDictionaryArray_; }
    void displayRestoreDialogWithNumberOfRestoredItems(long restoredItems, long maxItems) override;
    void updatePatchItem(std::shared_ptr<PatchItem> patchItem, const std::string& offset,
                         const UnitPatchChange& origin = {}) override;
    void setReloadBufferDataTimer() override;
    void endTextEditing() override;
    void takeUnitChangesBeforeItGoes() override { takeUnitChanges(); }

    // ---- modes ----
    bool isRestoreAllMode() const { return isRestoreAllMode_; }
    void setIsRestoreAllMode(bool restoreAll) { isRestoreAllMode_ = restoreAll; }
    // Redraws the button and its arrows for the current mode.
    void setArrowImageWithBackupAllAndRestoreAllState();

    // ---- the device patch list ----
    CustomTableViewForPatch* patchManagerTableView() const { return patchManagerTableView_; }
    PatchListTableModel* patchListModel() const { return patchListModel_; }
    PatchListItemDelegate* patchListDelegate() const { return patchListDelegate_; }
    CustomScroller* verticalPatchListRuler() const { return verticalPatchListRuler_; }
    std::uint64_t numberOfSlotsInBlank() const { return numberOfSlotsInBlank_; }
    // A press in a column header keeps the selection, and its click puts it back.
    void mouseDownInHeaderOfTableColumn();
    void didClickTableColumn();
    // Whether a name or comment is being typed: the list's editor is open or a text control has the focus.
    bool isEditingText() const;

    // ---- TableViewForUtilityDelegate ----
    void didChangePositionFromRowIndexSet(CustomTableViewForPatch& table, const std::vector<std::uint64_t>& rows,
                                          std::uint64_t toRow) override;
    void didSelectRowAtIndex(CustomTableViewForPatch& table, std::uint64_t row) override;
    void tableViewDidBecomeFirstResponder(CustomTableViewForPatch& table) override;

    // ---- TableViewForPatchRightClickDelegate ----
    void didClickOnSavingInPatchPoolButtonAtIndex(CustomTableViewForPatch& table, std::uint64_t row) override;
    void didClickOnReadingFromPatchPoolButtonAtIndex(CustomTableViewForPatch& table, std::uint64_t row) override;
    void didClickOnUndoButtonAtIndex(CustomTableViewForPatch& table, std::uint64_t row) override;
    void didClickOnPropertyButtonAtIndex(CustomTableViewForPatch& table, std::uint64_t row) override;
    std::shared_ptr<PatchItem> patchItemForRightClickAtIndex(CustomTableViewForPatch& table, std::uint64_t row) override;
    bool tableViewCanReadFromPatchPool(CustomTableViewForPatch& table) override;
    bool tableViewCanSaveToPatchPool(CustomTableViewForPatch& table) override;

    // ---- device writes and buffered device changes ----
    // One slot; nothing for a slot outside the list or without a patch.
    void updatePatchFileToDevideAtIndex(std::uint64_t index);
    // A run of slots as one group write, clipped to the list; nothing for an empty run.
    void updatePatchFileToDevideAtRange(std::uint64_t location, std::uint64_t length);
    // The whole list in one request.
    void updatePatchListToDevive(const PatchItems& patchList);
    // Applies the buffered device-side changes, or waits another quiet time while a text is edited.
    void updateBuffterDataToPatchList();
    // Applies one buffered change to the slot labelled `offset`; an unknown label drops it.
    void updateBufferPatchItem(const PatchItem& patchItem, const std::string& offset);
    // Applies one buffered change to the patch that sat in its slot when the unit reported it, wherever a
    // reorder has since moved it.
    void updateBufferPatchItem(const PatchItem& patchItem, PatchItem& target);
    const QTimer& loadBufferDataTimer() const { return loadBufferDataTimer_; }
    std::size_t bufferedChangeCount() const { return bufferDataFromDevice_.size(); }

    // ---- the patch pool ----
    // The right pane, which the pool's views fill.
    QWidget* patchPoolPane() const { return patchPoolPane_; }

    // ==== the patch pool outline: rows, titles, selection, rename, saving, moving, new groups ====
    using Node = std::shared_ptr<DirectoryObject>;
    using Nodes = std::vector<Node>;
    PatchPoolOutlineView* rightPanelOutlineView() const { return rightPanelOutlineView_; }
    PatchPoolEditor& patchPoolEditor() const { return *patchPoolEditor_; }
    PatchUndoHandlers& undoHandlers() const { return *undoHandlers_; }

    // ==== Backup All and Restore All (PatchManagerViewControllerBackup.cpp) ====
    // The button's action: a restore of the one selected pool row in restore-all mode, else a backup.
    void backUpButtonClick();
    void restorePatchItemWithBackupAllGroup(const Node& group);
    void setEnableBackupAllButton(bool enabled);
    // The time backups are named after; the system clock when none is set.
    void setBackupClock(std::function<std::chrono::system_clock::time_point()> clock) { backupClock_ = std::move(clock); }
    const Node& editingItemInPool() const { return editingItemInPool_; }
    static constexpr double kGroupRowHeight = 26.0;
    static constexpr double kPatchRowHeight = 24.0;

    // PatchPoolDataSource
    std::int64_t numberOfChildrenOfItem(const DirectoryObject* item) override;
    Node childOfItem(std::int64_t index, const DirectoryObject* item) override;
    bool isItemExpandable(const DirectoryObject& item) override;
    double heightOfRowByItem(const DirectoryObject& item) override;
    PatchPoolRules::Title objectValueForItem(const DirectoryObject& item) override;
    Cell willDisplayCellForItem(const DirectoryObject& item) override;
    bool shouldEditItem(const Node& item) override;
    void setObjectValue(const std::string& text, const Node& item) override;
    void outlineViewSelectionDidChange() override;

    // BackupPatch
    void addBackUpPatchItemAtIndexs(const Rows& rows, const Node& target, bool isAbove) override;
    void insertBackUpPatchForPatchItemAtIndexs(const Rows& rows, const Node& group, std::uint64_t indexInGroup,
                                               bool isAbove) override;
    void addBackUpPatchItems(const Patches& items, const Node& target, bool isAbove) override;
    void addBackUpPatchItems(const Patches& items, const Node& group, std::uint64_t indexInGroup, bool isAbove) override;
    void createNewGroupWithPatchIndexs(const Rows& rows, const Node& target, bool isAbove) override;
    void createNewGroupWithPatchItems(const Patches& items, const Node& target, bool isAbove) override;
    void changePositionWithItems(const PoolSelectionEntries& items, const Node& target,
                                 std::int64_t draggingPosition) override;
    // The pool's losing the keyboard asks nothing of the screen: the pool itself closes its menu and ends
    // the editing colours before it tells.
    void outlineViewDidResignFirstResponder() override {}
    void didClickOnItem(const Node& item, std::int64_t index) override;

    // PatchPoolOutlineViewDelegate
    void didClickOnCreateGroupButtonAtItem(PatchPoolOutlineView* view, const Node& item, const Node& group) override;
    void didClickOnUndoButtonAtItem(PatchPoolOutlineView* view, const Node& item, const Node& group) override;

    bool writeFilePatch(PatchItem& patch, const std::string& toPath, bool errorDialog);
    Node backupToPatchDirectoryWithPatchItem(const PatchItem& patch);
    Node backupToPatchDirectoryWithIndex(std::int64_t index);
    // ==== end of the patch pool outline ====

    // ==== option menus, copy to the device, delete and property sheets
    // (PatchManagerViewControllerMenus.cpp, PatchManagerViewControllerSheets.cpp) ====
    // The pool's selected rows, ascending, each with its group.
    PoolSelectionEntries selectedPoolEntries() const;
    // PatchPoolOutlineViewDelegate
    bool patchPoolOutlineViewCanCopyToDeviceMemory(PatchPoolOutlineView* view) override;
    void didClickOnButtonRestoreAllToDeviceAtItem(PatchPoolOutlineView* view, const Node& item, const Node& group) override;
    void didClickOnButtonCopyToDeviceMemoryAtItems(PatchPoolOutlineView* view, const PoolSelectionEntries& items) override;
    void didClickOnPropertyButtonAtItem(PatchPoolOutlineView* view, const Node& item, const Node& group) override;
    void didClickOnDeleteButtonWithItems(PatchPoolOutlineView* view, const PoolSelectionEntries& items) override;
    // Deletes one pool item into the recycle bin; its record, or none when nothing can be undone.
    std::shared_ptr<DeleteAction> detetePatchItemInPatchPoolOutlineView(PatchPoolOutlineView* view, const Node& item,
                                                                        const Node& group);
    // Takes out of the pool a patch whose copy the deletion withdrew (nothing to put in the bin); its record.
    std::shared_ptr<DeleteAction> deleteWithdrawnPatch(const Node& item, const Node& group);
    // Puts back a group's children withdrawn for a deletion of the group that failed, asking their copies again.
    void putBackWithdrawnChildren(const Node& group, const std::vector<std::shared_ptr<DeleteAction>>& children);
    // The open property sheet's controllers, kept until the next sheet replaces them.
    PatchPropertyViewController* patchPropertyViewController() const;
    PatchGroupPropertyViewController* patchGroupPropertyViewController() const;
    // ==== end of option menus and sheets ====

    // ==== drag and drop (PatchManagerViewControllerDrops.cpp) ====
    // The made-up destinations the two views hand the drag's source.
    static constexpr const char* kRightPanel = "rightPanel";
    static constexpr const char* kPatchListPanel = "patchListPanel";
    static constexpr const char* kNewPatchGroupFormat = "New Patch Group %1";
    // What a drag of either view carries, taken when it starts: the list's rows or the pool's items. The
    // drag's answers come from it, never from the views' state by the time another program asks.
    struct DraggedContent {
        bool fromPool = false;
        std::vector<std::uint64_t> rows;
        Nodes items;
    };
    // The content of the drag the list (or the pool) has just started.
    DraggedContent draggedContent(bool fromPool) const;
    // The data of a drag of the list's rows or the pool's items that `source` starts now.
    std::unique_ptr<PatchDragMimeData> makeDragData(QWidget* source, const char* type);
    // Every drop of a row of either view ends here: list rows dropped on the pool answer their row numbers;
    // pool items dropped on the list replace its slots (or restore a backup-all group of the model); a
    // staging folder made for another program gets patch files, several items inside a new group folder.
    // Any other destination gets nothing: files go only where the program keeps them.
    std::vector<std::int64_t> namesOfPromisedFilesDroppedAtDestination(const std::string& destination,
                                                                       const DraggedContent& drag);
    // The list's drop validation: keeps the proposed row and whether it lies above a filler row.
    int validateDrop(std::int64_t proposedRow, bool aboveOperation);
    // Dropped patches (copied already) replace the list's slots from `row` on; only slots the device has.
    void replaceItemByDragging(const PatchItems& items, std::int64_t row);
    // The pool drag's count: compatible patches, -1 for a backup-all group of the connected model.
    std::int64_t numberOfDraggedItems() const;
    // The new group folder's name for a drop of several items in a folder, at the clock's time.
    std::string newPatchGroupFolderName() const;
    // The time new group folders are named after; the system clock when none is set.
    void setDropClock(std::function<std::chrono::system_clock::time_point()> clock) { dropClock_ = std::move(clock); }
    // A fresh staging folder under "Temp" for a drag that another program asks files of. The earlier ones
    // stay until the next start clears "Temp": another program may still be copying from them.
    std::string makeDragStagingFolder();
    const std::string& dragStagingFolder() const { return dragStagingFolder_; }

private:
    void dropPoolItemsOnList(const Nodes& items);
    void writeDraggedFilesToFolder(const Nodes& items, const std::string& destination);
    std::function<std::chrono::system_clock::time_point()> dropClock_;
    std::string dragStagingFolder_;
    std::set<std::string> dragStagingFolders_;
    int dragStagingSerial_ = 0;
    // ==== end of drag and drop ====

private:
    // The Backup All / Restore All button's font.
    static QFont buttonFont();
    struct BufferedChange {
        std::shared_ptr<PatchItem> patchItem;
        std::string offset;
        // The patch the unit changed; none when the list had no row for it yet.
        std::shared_ptr<PatchItem> target;
        // A write of ours replaced the change on the unit: the patch goes to the unit again.
        bool rewrite = false;
        // The texts of the patch the unit changed, as it held them; none when not known.
        std::optional<std::string> heldName;
        std::optional<std::string> heldComment;
        // The file of the patch the unit changed, as it held it; empty when not known.
        std::string heldPath;
    };
    // Lays the unit's change over its patch, each text the user changed since the unit held it kept over
    // the unit's; whether one was, so the unit needs the patch again.
    bool mergeUnitChange(const BufferedChange& change, PatchItem& target);
    // Whether the unit, after `change` was laid over its patch (`usersTexts` as the merge answered), holds
    // the patch otherwise than the list.
    bool unitNeedsPatchAfter(const BufferedChange& change, bool usersTexts) const;
    std::shared_ptr<PatchItem> patchInSlot(const std::string& offset) const;
    // The patch whose file is `path`: a buffered change's, else the list's, else the list's patch a merge
    // moved from that file since; none when neither has it.
    std::shared_ptr<PatchItem> heldPatch(const std::string& path) const;
    // The patch whose file is `path` (or that a merge moved from it) that an undo record keeps to put
    // back in the list, a drop or Restore All having replaced it; none when no record keeps it.
    std::shared_ptr<PatchItem> patchKeptForUndo(const std::string& path) const;
    std::string absoluteFile(const std::string& path) const;
    std::optional<std::uint64_t> slotOf(const PatchItem* patch) const;
    std::optional<std::uint64_t> slotOf(const std::string& offset) const;
    // Takes the unit's changes reported within the quiet time into the list's patches at once, and
    // writes again the patches that took one the unit no longer holds where they are, except in the run
    // of slots [from, to) the caller writes itself.
    void takeUnitChanges(std::uint64_t from = 0, std::uint64_t to = 0);
    // Takes the changes the unit reported of `patch` alone; whether there were any. `unitNeedsIt`, when
    // given, is set when the patch took one the unit does not hold as the list now does (our write came
    // over it, the user's texts went over it, or the patch moved): the caller writes the patch, or the
    // list and the unit part.
    bool takeUnitChangesOf(PatchItem& patch, bool* unitNeedsIt = nullptr);
    // Answers the slots whose patch took a change the unit does not hold there.
    std::vector<std::uint64_t> applyBufferedChanges(bool reloadList);

    void buildView();
    void layOutBackUpButton();
    void observeUndoNotifications();
    void buildPatchPool(QWidget* pane);
    // Reloads the pool and selects the nodes that have a row.
    void reloadPatchPoolSelecting(const Nodes& nodes);
    Node shownParentOf(const DirectoryObject& item) const;
    std::function<void(const Nodes& added)> reloadPatchPoolWhenCopied();
    // Files read or copied for the pool off the main thread: the pool shows the processing view while
    // any are under way.
    void beginPoolWork();
    void endPoolWork();
    static constexpr int kPoolWorkShownAfterMilliseconds = 150;
    int poolWorks_ = 0;

    // The undo handlers, one per record kind.
    void doUndoActionForChangeText(UndoAction& action);
    void doUndoActionForChangePosition(UndoAction& action);
    void doUndoActionForDragFromPoolToList(UndoAction& action);
    void doUndoActionForAddToPatchPool(UndoAction& action);
    void doUndoActionForSelectionInPatchList(UndoAction& action);
    void doUndoActionForDeleteInPatchPool(UndoAction& action);

    AppDelegate& appDelegate_;
    PatchCoordinator& coordinator_;
    UndoController& undoController_;
    platform::NotificationCenter& notificationCenter_;
    PatchDialogs& dialogs_;
    TextRuleContext textRules_;
    std::int64_t reloadBufferDataSeconds_;
    MainWindowController* mainController_ = nullptr;

    PatchItems patchItems_;
    BankItems bankItems_;
    StructureData structureData_;
    std::vector<RestoredCount> numberOfRestoredDictionaryArray_;
    std::vector<BufferedChange> bufferDataFromDevice_;
    PatchFileTrail fileTrail_;
    std::vector<std::uint64_t> currentSelectionIndexSet_;
    std::vector<platform::NotificationCenter::Token> undoObservers_;
    std::uint64_t numberOfSlotsInBlank_ = 0;
    bool isPatchListLoaded_ = false;
    bool isRestoreAllMode_ = false;
    bool isLockPatchPool_ = false;
    QTimer loadBufferDataTimer_;

    // The window that shows the view may delete it first.
    QPointer<QWidget> view_;
    QWidget* leftView_ = nullptr;
    QWidget* patchPoolPane_ = nullptr;
    QWidget* patchPoolIndicator_ = nullptr;
    QWidget* buttonBar_ = nullptr;
    CustomTableViewForPatch* patchManagerTableView_ = nullptr;
    PatchListTableModel* patchListModel_ = nullptr;
    PatchListItemDelegate* patchListDelegate_ = nullptr;
    CustomScroller* verticalPatchListRuler_ = nullptr;
    QPushButton* backUpAllOrRestoreAllButton_ = nullptr;
    QLabel* leftArrowImageView_ = nullptr;
    QLabel* rightArrowImageView_ = nullptr;

    // The patch pool outline.
    PatchPoolOutlineView* rightPanelOutlineView_ = nullptr;
    PatchPoolModel* patchPoolModel_ = nullptr;
    std::unique_ptr<PatchPoolEditor> patchPoolEditor_;
    Node editingItemInPool_;

    // The undo handlers (PatchManagerViewControllerUndo.cpp).
    void buildUndoHandlers();
    std::unique_ptr<PatchUndoHandlers> undoHandlers_;

    void buildBackupAllRestoreAll();
    std::unique_ptr<BackupAllRestoreAll> backupAllRestoreAll_;
    std::function<std::chrono::system_clock::time_point()> backupClock_;

    // Option menus and sheets.
    // A copy of the pool patch, its file copied into the device's folder; none when the copy failed.
    std::shared_ptr<PatchItem> deviceCopyOf(const PatchItem& patch);
    // Each opens its sheet and answers its view; none when the target has gone meanwhile.
    QWidget* openPatchPropertySheet(std::uint64_t index);
    QWidget* openPoolPropertySheet(const Node& item, const Node& group);
    // Whether the node is still in the pool, under `group` (none: at the top).
    bool isInPool(const Node& item, const Node& group) const;
    QPointer<PatchPropertyViewController> patchPropertyViewController_;
    QPointer<PatchGroupPropertyViewController> patchGroupPropertyViewController_;

    // Asks for the pool's warnings unless a later reload asked again.
    void askPoolWarnings(std::uint64_t asked);
    // Whether the pool's warnings were judged against what they are judged against now.
    bool poolWarningsStand();
    void repaintPatchPool();
    // Only the latest pool-wide warning pass reloads the pool, and none after the screen has gone.
    std::uint64_t poolWarningsAsked_ = 0;
    // What the whole pool's warnings were last judged against; every edit since judged what it touched.
    std::optional<std::uint64_t> poolJudgedAgainst_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
