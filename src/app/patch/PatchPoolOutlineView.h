#pragma once

#include <QPointF>
#include <QSet>
#include <QPointer>
#include <QTreeView>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "app/patch/OptionMenuForPatchPoolDelegate.h"
#include "app/patch/DroppedFilesCheck.h"
#include "app/patch/PatchDropServices.h"
#include "app/patch/PatchPoolDragRules.h"
#include "app/patch/PoolDragState.h"
#include "library/text/TextRuleContext.h"

class AppDelegate;
class BackupPatch;
#include "app/controls/CustomScroller.h"
#include "app/controls/HeldDragMove.h"
class DropMarkerView;
class PatchDragMimeData;
class PatchPoolModel;
class PatchPoolOutlineViewDelegate;
class PoolNameEditor;

// The patch pool: the tree of patches and groups on the right of the patch screen. It draws on its own
// background with no highlight of its own (the row cell draws the selection), keeps the drawn scroller's
// ruler in step, turns clicks, keys and renames into calls on the patch screen and forwards the option
// menu's choices to it. It never changes the tree itself. Main thread only.
class PatchPoolOutlineView final : public QTreeView, public OptionMenuForPatchPoolDelegate {
    Q_OBJECT
public:
    explicit PatchPoolOutlineView(QWidget* parent = nullptr);
    ~PatchPoolOutlineView() override;

    void setPoolModel(PatchPoolModel* model);
    PatchPoolModel* poolModel() const { return model_; }

    // Held weakly.
    void setBackUpDelegate(BackupPatch* delegate) { backUpDelegate_ = delegate; }
    BackupPatch* backUpDelegate() const { return backUpDelegate_; }
    void setRightClickPatchPoolDelegate(PatchPoolOutlineViewDelegate* delegate) { rightClickDelegate_ = delegate; }
    void setVerticalScroller(CustomScroller* scroller) { verticalScroller_ = scroller; }
    void setAppDelegate(AppDelegate* appDelegate) { appDelegate_ = appDelegate; }
    void setTextRuleContext(TextRuleContext context) { textRules_ = std::move(context); }
    // Runs the newest undo record.
    void setUndoAction(std::function<void()> undo) { undoAction_ = std::move(undo); }
    // Whether the undo stack holds a record, for the option menu.
    void setCanBeUndo(std::function<bool()> canBeUndo) { canBeUndo_ = std::move(canBeUndo); }
    // How many device-list rows a drag from the list carries.
    void setNumberOfDraggedItemsInPatchList(std::function<std::uint64_t()> count) { numberOfDraggedItems_ = std::move(count); }

    bool isLockPatchPool() const { return isLockPatchPool_; }
    void setIsLockPatchPool(bool locked) { isLockPatchPool_ = locked; }
    QPointF mouseDownPoint() const { return mouseDownPoint_; }

    // The right-click menu's popover, kept once made; closed by scrolling, focus loss and each choice.
    void setMenuPopover(QWidget* popover) { menuPopover_ = popover; }
    QWidget* menuPopover() const { return menuPopover_; }
    void closeRightClickMenu();
    // The option menu of the selected rows, opened at `position` (viewport coordinates) on a row.
    void drawOptionMenu(QPoint position);
    // The option menu of empty space: only undo and create group.
    void drawEmptyOptionMenu(QPoint position);
    // The menu the popover shows, if any.
    OptionMenuForPatchPool* optionMenu() const;

    // Whether the rows reach below the visible area.
    bool isExpandedOverView() const;
    // Expands the group and shows as much of it as fits, its own row last.
    void expandItem(const QModelIndex& index);
    void collapseItem(const QModelIndex& index);
    void reloadData();
    // Starts renaming the row's item, when the patch screen allows.
    void editItemAtRow(int row);
    int rowForIndex(const QModelIndex& index) const;
    QModelIndex indexForRow(int row) const;
    int numberOfRows() const;
    std::vector<int> selectedRowList() const;
    void selectRows(const std::vector<int>& rows);
    // The row being renamed, -1 when none.
    int editedRow() const;
    // Ends the rename under way, if any, with its commit through the name rules, as leaving the editor
    // does; wherever the keys are, so also while another window has them.
    void endEditing();
    // The open name editor, none when no row is renamed (a closed one lingers, hidden, until deleted).
    PoolNameEditor* nameEditor() const;
    // How many times the scroll observer has run, for the ruler's tests.
    int boundsChangeCount() const { return boundsChangeCount_; }

    // ---- OptionMenuForPatchPoolDelegate: each choice goes to the screen, then the menu closes ----
    void optionMenuForPatchPoolDidClickOnButtonRestoreAllToDeviceAtItem(OptionMenuForPatchPool* menu, const Node& item,
                                                                        const Node& group) override;
    void optionMenuForPatchPoolDidClickOnButtonCopyToDeviceMemoryAtItem(OptionMenuForPatchPool* menu, const Node& item,
                                                                        const Node& group) override;
    void optionMenuForPatchPoolDidClickOnButtonCopyToDeviceMemoryAtItems(OptionMenuForPatchPool* menu,
                                                                         const PoolSelectionEntries& items) override;
    void optionMenuForPatchPoolDidClickOnPropertyButtonAtItem(OptionMenuForPatchPool* menu, const Node& item,
                                                              const Node& group) override;
    void optionMenuForPatchPoolDidClickOnUndoButtonAtItem(OptionMenuForPatchPool* menu, const Node& item,
                                                          const Node& group) override;
    void optionMenuForPatchPoolDidClickOnDeleteButtonAtItem(OptionMenuForPatchPool* menu, const Node& item,
                                                            const Node& group) override;
    void optionMenuForPatchPoolDidClickOnDeleteButtonWithItems(OptionMenuForPatchPool* menu,
                                                               const PoolSelectionEntries& items) override;
    void optionMenuForPatchPoolDidClickOnCreateGroupButtonAtItem(OptionMenuForPatchPool* menu, const Node& item,
                                                                 const Node& group) override;
    bool optionMenuForPatchPoolCanCopyToDeviceMemory(OptionMenuForPatchPool* menu) override;

    // ==== drag and drop (PatchPoolOutlineViewDrops.cpp) ====
    PoolDragState& dragState() { return dragState_; }
    const PoolDragState& dragState() const { return dragState_; }
    PatchDropServices& dropServices() { return dropServices_; }
    // The rows as the drop rules see them.
    const PatchPoolDragRules::Tree& dragTree() const;
    // Makes the data of a drag from this view; set by the screen.
    using DragDataFactory = std::function<std::unique_ptr<PatchDragMimeData>(QWidget* source, const char* type)>;
    void setDragDataFactory(DragDataFactory factory) { dragDataFactory_ = std::move(factory); }
    // Runs the drag and returns when it is over; a QDrag when none is set.
    using DragStarter = std::function<void(std::unique_ptr<PatchDragMimeData> data)>;
    void setDragStarter(DragStarter starter) { dragStarter_ = std::move(starter); }
    // The marker shown over a row, none when no drop would land.
    DropMarkerView* dropMarker() const;
    // The pool's dragged count, from its own drag in progress.
    std::int64_t getNumberOfDraggedItems(const std::function<bool(const DirectoryObject&)>& isSameModel) const;
    // Starts the drag of the selection when the pointer has moved 2 points from a press on a selected
    // row; `scenePoint` in window coordinates. The row is the one pressed, wherever the pointer is now.
    void mouseDragged(QPointF scenePoint);
    void draggingDidEnd();
    // ==== end of drag and drop ====

signals:
    // A Ctrl-click or right-button release, for the option menu.
    void rightMouseReleased(QPoint position);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Committed text of an input method is swallowed as keys are: the platform view would select the row
    // whose name starts with it, with no record of the change.
    void inputMethodEvent(QInputMethodEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void commitData(QWidget* editor) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void boundDidChange();
    void updateRuler();
    void clearEditingColours();
    void rightMouseUp(QPoint position);
    void showOptionMenu(OptionMenuForPatchPool* menu, QPoint position);
    PoolNameEditor* makeEditor(const QModelIndex& index, QWidget* parent);
    QModelIndex lastVisibleIndex() const;
    // Keeps the selected items (and the current one) for the next reload.
    void rememberSelection();
    // Selects `items` where the reloaded tree shows them, `current` the current one, and tells the
    // screen.
    void selectItemsAgain(const std::vector<std::shared_ptr<DirectoryObject>>& items,
                          const std::shared_ptr<DirectoryObject>& current);

    PatchPoolModel* model_ = nullptr;
    BackupPatch* backUpDelegate_ = nullptr;
    PatchPoolOutlineViewDelegate* rightClickDelegate_ = nullptr;
    QPointer<CustomScroller> verticalScroller_;
    AppDelegate* appDelegate_ = nullptr;
    TextRuleContext textRules_;
    std::function<void()> undoAction_;
    std::function<bool()> canBeUndo_;
    std::function<std::uint64_t()> numberOfDraggedItems_;
    QPointer<QWidget> menuPopover_;
    QPointF mouseDownPoint_;
    // The press's height in the viewport: the row a drag carries.
    double mouseDownRowY_ = -1;
    bool isLockPatchPool_ = false;
    bool observerRegistered_ = false;
    QPersistentModelIndex editingIndex_;
    QPointer<PoolNameEditor> editor_;
    // The item being renamed, held from the edit's start: a changed tree answers for an index with
    // whatever item now stands at its row.
    std::shared_ptr<DirectoryObject> editingNode_;
    // Set while an edit commits or ends: a reload it causes does not open the edit again.
    bool endingEdit_ = false;
    int clickCount_ = 1;
    int boundsChangeCount_ = 0;
    // Drag and drop.
    int draggingUpdated(QDragMoveEvent* event);
    void answerDragMove(QDragMoveEvent* event);
    void stopDragScrolling();
    // A reload takes the view out of its drag and stops its scrolling, and a resize moves the rows under
    // a pointer held still: a drag still held goes on from where the pointer is, scrolling while at an
    // edge.
    void resumeHeldDrag();
    void removeMarker();
    void drawInsertion();
    PoolDragState dragState_;
    PatchDropServices dropServices_;
    DroppedFilesCheck droppedFiles_;
    DragDataFactory dragDataFactory_;
    DragStarter dragStarter_;
    QPointer<DropMarkerView> marker_;
    HeldDragMove heldMove_;
    mutable std::unique_ptr<PatchPoolDragRules::Tree> dragTree_;
    // The open groups by item, so a reload of a changed tree opens the same groups again.
    QSet<const DirectoryObject*> expandedItems_;
    // The selected items as the last change of the selection left them, held so that none that goes can
    // hand its address to a new one: a reload selects them again where they still are.
    std::vector<std::shared_ptr<DirectoryObject>> selectedNodes_;
    std::shared_ptr<DirectoryObject> currentNode_;
};
