#pragma once

#include <QPoint>
#include <QPointer>
#include <QTableView>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "app/controls/AutoClosePopover.h"
#include "app/controls/CustomScroller.h"
#include "app/controls/HeldDragMove.h"
#include "app/patch/OptionMenuForPatchViewControllerDelegate.h"
#include "app/patch/PatchDropServices.h"
#include "app/patch/PatchListItemDelegate.h"
#include "app/patch/PatchListDragState.h"
#include "app/patch/PatchListSelectionRules.h"

class AppDelegate;
class DropMarkerView;
class OptionMenuForPatchViewController;
class PatchDragMimeData;
class TableViewForPatchRightClickDelegate;
class TableViewForUtilityDelegate;
class UndoController;

// The device patch list's table: one row per patch slot, 55 points high. It does its own selection and
// keys, so the platform table's click selection, type-select and arrow keys are not in effect: a click
// selects on release and is recorded for undo, Ctrl+Z undoes, Ctrl+A selects everything, F2 edits the
// name or comment of the current row, and the right button opens the row's option menu in a popup.
class CustomTableViewForPatch : public QTableView, public OptionMenuForPatchViewControllerDelegate {
    Q_OBJECT
public:
    CustomTableViewForPatch(AppDelegate& appDelegate, UndoController& undoController, QWidget* parent = nullptr);
    ~CustomTableViewForPatch() override;

    void setRightClickDelegate(TableViewForPatchRightClickDelegate* delegate) { rightClickDelegate_ = delegate; }
    void setUtilityDelegate(TableViewForUtilityDelegate* delegate) { utilityDelegate_ = delegate; }

    // The list ignores the mouse and refuses drops while locked.
    bool lockTableView() const { return lockTableView_; }
    void setLockTableView(bool locked) { lockTableView_ = locked; }
    bool isDropped() const { return rules_.isDropped(); }
    void setIsDropped(bool dropped) { rules_.setIsDropped(dropped); }

    // The selected rows in the order they were selected; the last is the most recent.
    const std::vector<std::uint64_t>& selectionList() const { return rules_.selectionList(); }
    std::uint64_t rootSelectedRowForShilf() const { return rules_.rootSelectedRowForShilf(); }
    std::uint64_t previousSelectedRow() const { return rules_.previousSelectedRow(); }
    void setPreviousSelectedRow(std::uint64_t row) { rules_.setPreviousSelectedRow(row); }
    std::uint64_t previousSelectedColumn() const { return rules_.previousSelectedColumn(); }
    // The selected rows, ascending.
    std::vector<std::uint64_t> selectedRows() const;

    // Selects `rows` (ascending), after the current selection or instead of it; the first becomes the
    // anchor and the current row, and the selection list becomes `rows`.
    void setUpCurrentSelectionWithIndexSet(const std::vector<std::uint64_t>& rows, bool extendingSelection);
    void resetSelectionData();
    // Reloads the rows, keeping the selected ones that remain, and shows the ruler exactly when they
    // overflow.
    void reloadData();
    // Whether the rows reach beyond the visible area; never for no rows or rows that fit exactly.
    bool isExpandedOverView() const;
    // The list's vertical scroller, which draws the ruler; set by the screen.
    void setVerticalScroller(CustomScroller* scroller);
    CustomScroller* verticalScroller() const { return verticalScroller_; }
    // Whether the vertical ruler is shown.
    bool rulerVisible() const { return rulerVisible_; }
    void setRulerVisible(bool visible);
    // A filler row, or a row outside the list.
    bool isEmptyRow(int row) const;

    void closeRightClickMenu();
    // The popover of the option menu, once it has been opened.
    AutoClosePopover* menuPopover() const { return menuPopover_; }
    OptionMenuForPatchViewController* optionMenu() const;
    // Opens the option menu of `row` under `position` (viewport coordinates).
    void drawOptionMenu(std::uint64_t row, QPoint position);
    // Starts editing the name or comment of the current row, as F2 does.
    void editCurrentRow();

    // ---- OptionMenuForPatchViewControllerDelegate: forwarded to the right-click delegate ----
    void optionMenuDidClickOnSavingInPatchPoolButtonAtIndex(std::uint64_t row) override;
    void optionMenuDidClickOnReadingFromPatchPoolButtonAtIndex(std::uint64_t row) override;
    void optionMenuDidClickOnPropertyButtonAtIndex(std::uint64_t row) override;
    void optionMenuDidClickOnUndoButtonAtIndex(std::uint64_t row) override;
    bool optionMenuCanReadFromPatchPool() override;
    bool optionMenuCanSaveToPatchPool() override;

    // ==== drag and drop (CustomTableViewForPatchDrops.cpp) ====
    PatchListDragState& dragState() { return dragState_; }
    const PatchListDragState& dragState() const { return dragState_; }
    PatchDropServices& dropHandlers() { return dropServices_; }
    // Makes the data of a drag from this view; set by the screen.
    using DragDataFactory = std::function<std::unique_ptr<PatchDragMimeData>(QWidget* source, const char* type)>;
    void setDragDataFactory(DragDataFactory factory) { dragDataFactory_ = std::move(factory); }
    // Runs the drag and returns when it is over; a QDrag when none is set.
    using DragStarter = std::function<void(std::unique_ptr<PatchDragMimeData> data)>;
    void setDragStarter(DragStarter starter) { dragStarter_ = std::move(starter); }
    // Drags the selected rows; called once the pointer has moved far enough from the press.
    void startRowDrag();
    // The reorder marker, none when no drop would land.
    DropMarkerView* dropMarker() const;
    // Shows `count` rows from `start` selected, up to the first empty row; the selection list stays.
    void selectRowWhenDraggingAtRow(std::int64_t start, std::int64_t count);
    // ==== end of drag and drop ====

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    // Committed text of an input method is swallowed as keys are: the platform view would select the row
    // whose name starts with it, with no record and without telling the unit.
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // The program's own folder, from which nothing is taken.
    std::string ownFolder() const;
    void rightMouseUp(QPoint position);
    // A first click (`clickCount` 1) selects by the rules; a second one edits the cell it lands on.
    void leftMouseUp(QPoint position, Qt::KeyboardModifiers modifiers, int clickCount);
    // Pushes the outcome's record, then shows its selection and tells the screen of its row.
    void apply(const PatchListSelectionRules::Outcome& outcome);
    PatchListSelectionRules::Selection selectedRowSet() const;
    void tellSelected(std::uint64_t row);
    void clearEditingColours();
    // Opens the held edit again on its patch's cell, wherever the patch now is.
    void continueHeldEdit(const PatchListItemDelegate::HeldEdit& held);
    void boundsDidChange();
    // The editing cell of (row, column), if one is open.
    bool isEditing(int row, int column) const;

    AppDelegate& appDelegate_;
    UndoController& undoController_;
    TableViewForPatchRightClickDelegate* rightClickDelegate_ = nullptr;
    TableViewForUtilityDelegate* utilityDelegate_ = nullptr;
    PatchListSelectionRules rules_;
    bool lockTableView_ = false;
    bool rulerVisible_ = false;
    QPoint mouseDownPoint_;
    // Drag and drop.
    int dragOver(QDragMoveEvent* event, bool entering);
    void answerDragMove(QDragMoveEvent* event);
    void stopDragScrolling();
    // A reload takes the view out of its drag and stops its scrolling, and a resize moves the rows under
    // a pointer held still: a drag still held goes on from where the pointer is, scrolling while at an
    // edge.
    void resumeHeldDrag();
    void drawMarker(int row, bool bottom);
    void removeMarker();
    void endDrag();
    PatchListDragState dragState_;
    PatchDropServices dropServices_;
    DragDataFactory dragDataFactory_;
    DragStarter dragStarter_;
    QPointer<DropMarkerView> marker_;
    HeldDragMove heldMove_;
    // Of the press being handled: 2 for the second press of a double click; whether it became a drag.
    int clickCount_ = 1;
    bool dragged_ = false;
    QPointer<AutoClosePopover> menuPopover_;
    QPointer<CustomScroller> verticalScroller_;
};
