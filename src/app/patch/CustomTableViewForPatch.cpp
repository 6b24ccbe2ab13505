#include "app/patch/CustomTableViewForPatch.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>

#include <algorithm>

#include "app/controls/ControlClick.h"
#include "app/controls/CustomScroller.h"
#include "app/controls/TableRowChecks.h"
#include "app/patch/OptionMenuForPatchViewController.h"
#include "app/patch/PatchListItemDelegate.h"
#include "app/patch/PatchListTableModel.h"
#include "app/patch/TableViewForPatchRightClickDelegate.h"
#include "app/patch/TableViewForUtilityDelegate.h"
#include "app/shell/AppDelegate.h"
#include "library/undo/SelectionAction.h"
#include "library/undo/UndoController.h"

namespace {

bool isUndoKey(const QKeyEvent& key)
{
    return key.key() == Qt::Key_Z && (key.modifiers() & Qt::ControlModifier) && !(key.modifiers() & Qt::ShiftModifier);
}

bool isSelectAllKey(const QKeyEvent& key)
{
    return key.key() == Qt::Key_A && (key.modifiers() & Qt::ControlModifier) && !(key.modifiers() & Qt::ShiftModifier);
}

}  // namespace

CustomTableViewForPatch::CustomTableViewForPatch(AppDelegate& appDelegate, UndoController& undoController, QWidget* parent)
    : QTableView(parent), appDelegate_(appDelegate), undoController_(undoController)
{
    setObjectName(QStringLiteral("CustomTableViewForPatch"));
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(PatchListTableModel::kRowHeight);
    verticalHeader()->setDefaultSectionSize(PatchListTableModel::kRowHeight);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setShowGrid(false);
    setTabKeyNavigation(false);
    setFocusPolicy(Qt::StrongFocus);
    // A palette, not a style sheet: a sheet would reach the editors inside the list and take their
    // editing colours away.
    setFrameShape(QFrame::NoFrame);
    QPalette dark = palette();
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    setPalette(dark);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &CustomTableViewForPatch::boundsDidChange);
}

CustomTableViewForPatch::~CustomTableViewForPatch() { delete menuPopover_; }

std::vector<std::uint64_t> CustomTableViewForPatch::selectedRows() const
{
    std::vector<std::uint64_t> rows;
    if (!selectionModel()) return rows;
    for (const QModelIndex& index : selectionModel()->selectedRows()) rows.push_back(static_cast<std::uint64_t>(index.row()));
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool CustomTableViewForPatch::isEmptyRow(int row) const { return TableRowChecks::checkEmptyRow(row, this); }

void CustomTableViewForPatch::setUpCurrentSelectionWithIndexSet(const std::vector<std::uint64_t>& rows,
                                                               bool extendingSelection)
{
    if (!model() || !selectionModel()) return;
    QItemSelection selection;
    const int last = model()->columnCount() - 1;
    for (const auto row : rows) {
        if (row >= static_cast<std::uint64_t>(model()->rowCount())) continue;
        const int r = static_cast<int>(row);
        selection.select(model()->index(r, 0), model()->index(r, last));
    }
    selectionModel()->select(selection, extendingSelection ? QItemSelectionModel::Select
                                                            : QItemSelectionModel::ClearAndSelect);
    // An empty set empties the ordered list too: an undo record taken from it later must not bring back
    // rows that are no longer selected.
    rules_.setUpCurrentSelection(rows, extendingSelection, selectedRowSet());
    if (!rows.empty()) rules_.setPreviousSelectedRow(rules_.rootSelectedRowForShilf());
}

void CustomTableViewForPatch::resetSelectionData() { rules_.resetSelectionData(); }

void CustomTableViewForPatch::reloadData()
{
    // A reload keeps the selected rows that are still there, as the screen relies on; and a name or
    // comment being typed, which the reload's reset would close without a word: its patch's cell opens
    // again where the patch now is, with the typing as it was.
    const auto kept = selectedRows();
    const bool dragHeld = state() == DraggingState;
    auto* cells = qobject_cast<PatchListItemDelegate*>(itemDelegate());
    const auto held = cells ? cells->holdEdit() : std::nullopt;
    auto* list = qobject_cast<PatchListTableModel*>(model());
    if (list) list->reload();
    if (model() && selectionModel()) {
        QItemSelection selection;
        const int last = model()->columnCount() - 1;
        for (const auto row : kept) {
            if (row >= static_cast<std::uint64_t>(model()->rowCount())) break;
            const int r = static_cast<int>(row);
            selection.select(model()->index(r, 0), model()->index(r, last));
        }
        selectionModel()->select(selection, QItemSelectionModel::Select);
    }
    setRulerVisible(isExpandedOverView());
    if (dragHeld) resumeHeldDrag();
    if (held && list) continueHeldEdit(*held);
}

void CustomTableViewForPatch::continueHeldEdit(const PatchListItemDelegate::HeldEdit& held)
{
    auto* list = qobject_cast<PatchListTableModel*>(model());
    auto* cells = qobject_cast<PatchListItemDelegate*>(itemDelegate());
    if (!list || !cells) return;
    // A patch the reload took away ends the edit as it stood, uncommitted.
    for (int row = 0; row < list->rowCount(); ++row) {
        if (list->patchItemAt(row) != held.patch) continue;
        const QModelIndex index = list->index(row, held.column);
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        edit(index);
        cells->continueEdit(held);
        return;
    }
}

bool CustomTableViewForPatch::isExpandedOverView() const
{
    const int rows = model() ? model()->rowCount() : 0;
    if (rows == 0) return false;
    const int lastBottom = verticalHeader()->sectionPosition(rows - 1) + verticalHeader()->sectionSize(rows - 1);
    return CustomScroller::isExpandedOverView(rows, lastBottom, viewport()->height());
}

void CustomTableViewForPatch::setVerticalScroller(CustomScroller* scroller)
{
    verticalScroller_ = scroller;
    setVerticalScrollBar(scroller);
    connect(scroller, &QScrollBar::valueChanged, this, &CustomTableViewForPatch::boundsDidChange);
    // The scroller stays in place; it shows its knob only while the rows overflow.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    scroller->setRulerVisible(rulerVisible_);
}

void CustomTableViewForPatch::setRulerVisible(bool visible)
{
    rulerVisible_ = visible;
    if (verticalScroller_) verticalScroller_->setRulerVisible(visible);
    else setVerticalScrollBarPolicy(visible ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
}

void CustomTableViewForPatch::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event);
    setRulerVisible(isExpandedOverView());
    if (state() == DraggingState) resumeHeldDrag();
}

// ---- the option menu ----

OptionMenuForPatchViewController* CustomTableViewForPatch::optionMenu() const
{
    return menuPopover_ ? qobject_cast<OptionMenuForPatchViewController*>(menuPopover_->contentWidget()) : nullptr;
}

void CustomTableViewForPatch::closeRightClickMenu()
{
    if (menuPopover_ && menuPopover_->isVisible()) menuPopover_->hide();
}

void CustomTableViewForPatch::drawOptionMenu(std::uint64_t row, QPoint position)
{
    if (QWidget* focus = QApplication::focusWidget()) focus->clearFocus();
    if (!menuPopover_) {
        menuPopover_ = new AutoClosePopover(this);
        menuPopover_->setObjectName(QStringLiteral("PatchListMenuPopover"));
    }
    closeRightClickMenu();
    const auto patch = rightClickDelegate_ ? rightClickDelegate_->patchItemForRightClickAtIndex(*this, row) : nullptr;
    menuPopover_->setContentWidget(
        new OptionMenuForPatchViewController(row, patch, this, appDelegate_, undoController_.canBeUndo()));
    menuPopover_->showAtPointer(viewport()->mapToGlobal(position));
    menuPopover_->setFocus(Qt::PopupFocusReason);
}

void CustomTableViewForPatch::optionMenuDidClickOnSavingInPatchPoolButtonAtIndex(std::uint64_t row)
{
    if (rightClickDelegate_) rightClickDelegate_->didClickOnSavingInPatchPoolButtonAtIndex(*this, row);
    closeRightClickMenu();
}

void CustomTableViewForPatch::optionMenuDidClickOnReadingFromPatchPoolButtonAtIndex(std::uint64_t row)
{
    if (rightClickDelegate_) rightClickDelegate_->didClickOnReadingFromPatchPoolButtonAtIndex(*this, row);
    closeRightClickMenu();
}

void CustomTableViewForPatch::optionMenuDidClickOnPropertyButtonAtIndex(std::uint64_t row)
{
    if (rightClickDelegate_) rightClickDelegate_->didClickOnPropertyButtonAtIndex(*this, row);
    closeRightClickMenu();
}

void CustomTableViewForPatch::optionMenuDidClickOnUndoButtonAtIndex(std::uint64_t row)
{
    if (rightClickDelegate_) rightClickDelegate_->didClickOnUndoButtonAtIndex(*this, row);
    closeRightClickMenu();
}

bool CustomTableViewForPatch::optionMenuCanReadFromPatchPool()
{
    return rightClickDelegate_ && rightClickDelegate_->tableViewCanReadFromPatchPool(*this);
}

bool CustomTableViewForPatch::optionMenuCanSaveToPatchPool()
{
    return rightClickDelegate_ && rightClickDelegate_->tableViewCanSaveToPatchPool(*this);
}

void CustomTableViewForPatch::boundsDidChange()
{
    closeRightClickMenu();
    const QWidget* focus = QApplication::focusWidget();
    if (focus && menuPopover_ && (focus == menuPopover_ || menuPopover_->isAncestorOf(focus))) setFocus();
}

// ---- keys ----

bool CustomTableViewForPatch::event(QEvent* event)
{
    // The list's own keys win over the window's shortcuts while it has the focus.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (isUndoKey(*key) || isSelectAllKey(*key)) {
            event->accept();
            return true;
        }
    }
    return QTableView::event(event);
}

void CustomTableViewForPatch::keyPressEvent(QKeyEvent* event)
{
    event->accept();
    if (isUndoKey(*event)) {
        if (!appDelegate_.isUndoHeld()) undoController_.doUndoAction();
    } else if (isSelectAllKey(*event) && model()) {
        rules_.selectAll(static_cast<std::uint64_t>(model()->rowCount()));
        selectAll();
    }
}

void CustomTableViewForPatch::inputMethodEvent(QInputMethodEvent* event) { event->accept(); }

void CustomTableViewForPatch::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    if (event->key() == Qt::Key_F2 && !event->isAutoRepeat()) editCurrentRow();
}

bool CustomTableViewForPatch::isEditing(int row, int column) const
{
    if (state() != QAbstractItemView::EditingState) return false;
    const QModelIndex current = currentIndex();
    return current.row() == row || current.column() == column;
}

void CustomTableViewForPatch::editCurrentRow()
{
    if (!model() || lockTableView_) return;
    const auto selected = selectedRows();
    if (selected.empty()) return;
    int column = static_cast<int>(rules_.previousSelectedColumn());
    if (column == 0 && model()->columnCount() > 1) column = 1;
    const auto row = rules_.previousSelectedRow();
    if (!std::binary_search(selected.begin(), selected.end(), row)) return;
    const int r = static_cast<int>(row);
    if (isEmptyRow(r) || isEditing(r, column) || column >= model()->columnCount()) return;
    const QModelIndex index = model()->index(r, column);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    edit(index);
}

// ---- mouse ----

void CustomTableViewForPatch::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() == Qt::RightButton) {
        setFocus(Qt::MouseFocusReason);
        return;
    }
    if (event->button() != Qt::LeftButton || lockTableView_) return;
    // The press only records: the release selects.
    clickCount_ = 1;
    dragged_ = false;
    setFocus(Qt::MouseFocusReason);
    mouseDownPoint_ = event->position().toPoint();
}

void CustomTableViewForPatch::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() != Qt::LeftButton || lockTableView_) return;
    clickCount_ = 2;
    dragged_ = false;
    setFocus(Qt::MouseFocusReason);
    mouseDownPoint_ = event->position().toPoint();
}

void CustomTableViewForPatch::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    if (!(event->buttons() & Qt::LeftButton) || dragged_ || lockTableView_ || appDelegate_.isEdittingTextView()) return;
    const QPoint position = event->position().toPoint();
    const QPoint moved = position - mouseDownPoint_;
    if (!PatchListSelectionRules::isDragDistance(moved.x(), moved.y())) return;
    setFocus(Qt::MouseFocusReason);
    // The row pressed, not the one under the pointer now: moves may come merged, the first one already
    // rows away from the press.
    const int row = rowAt(mouseDownPoint_.y());
    if (isEmptyRow(row)) return;
    // A drag carries the selection, with the row it was pressed on.
    dragged_ = true;
    apply(rules_.dragSelect(static_cast<std::uint64_t>(row), event->modifiers().testFlag(Qt::ControlModifier),
                            selectedRowSet()));
    startRowDrag();
}

void CustomTableViewForPatch::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    const QPoint position = event->position().toPoint();
    if (event->button() == Qt::RightButton) {
        rightMouseUp(position);
        return;
    }
    if (event->button() != Qt::LeftButton || lockTableView_) return;
    const bool wasDragged = dragged_;
    dragged_ = false;
    if (wasDragged) return;
    if (ControlClick::isRightClick(event->button(), event->modifiers(), true)) {
        // A Control-click is a right click, once the menu of the last one is closed; under a text being
        // edited it does nothing, as a left click does.
        closeRightClickMenu();
        if (!appDelegate_.isEdittingTextView()) rightMouseUp(position);
        return;
    }
    leftMouseUp(position, event->modifiers(), clickCount_);
}

void CustomTableViewForPatch::leftMouseUp(QPoint position, Qt::KeyboardModifiers modifiers, int clickCount)
{
    closeRightClickMenu();
    if (appDelegate_.isEdittingTextView()) return;
    const int row = rowAt(position.y());
    if (isEmptyRow(row)) return;
    rules_.setClickedColumn(columnAt(position.x()), model()->columnCount());
    const auto target = static_cast<std::uint64_t>(row);
    if (clickCount == 1) {
        using Modifier = PatchListSelectionRules::Modifier;
        const Modifier modifier = modifiers.testFlag(Qt::ControlModifier) ? Modifier::Command
                                  : modifiers.testFlag(Qt::ShiftModifier) ? Modifier::Shift
                                                                          : Modifier::None;
        apply(rules_.click(target, modifier, selectedRowSet()));
        return;
    }
    if (clickCount != 2) return;
    const auto column = rules_.previousSelectedColumn();
    if (!PatchListSelectionRules::editsOnDoubleClick(column)) return;
    const int c = static_cast<int>(column);
    if (isEditing(row, c)) return;
    const QModelIndex index = model()->index(row, c);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    edit(index);
}

void CustomTableViewForPatch::rightMouseUp(QPoint position)
{
    clearEditingColours();
    if (lockTableView_ || appDelegate_.isShowingDialog()) return;
    const int row = rowAt(position.y());
    if (isEmptyRow(row)) return;
    const auto target = static_cast<std::uint64_t>(row);
    apply(rules_.rightClick(target, selectedRowSet()));
    drawOptionMenu(target, position);
}

PatchListSelectionRules::Selection CustomTableViewForPatch::selectedRowSet() const
{
    const auto rows = selectedRows();
    return {rows.begin(), rows.end()};
}

void CustomTableViewForPatch::apply(const PatchListSelectionRules::Outcome& outcome)
{
    if (outcome.record) undoController_.addActionStack(std::make_shared<SelectionAction>(*outcome.record));
    if (outcome.selection && model() && selectionModel()) {
        QItemSelection selection;
        const int last = model()->columnCount() - 1;
        for (const auto row : *outcome.selection) {
            const int r = static_cast<int>(row);
            selection.select(model()->index(r, 0), model()->index(r, last));
        }
        selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    }
    if (outcome.tellRow) tellSelected(*outcome.tellRow);
}

void CustomTableViewForPatch::tellSelected(std::uint64_t row)
{
    if (utilityDelegate_ && selectionModel()->isRowSelected(static_cast<int>(row), QModelIndex()))
        utilityDelegate_->didSelectRowAtIndex(*this, row);
}

// ---- focus ----

void CustomTableViewForPatch::clearEditingColours()
{
    appDelegate_.clearColorEditingTextField();
    appDelegate_.clearColorEditingTextView();
}

void CustomTableViewForPatch::focusInEvent(QFocusEvent* event)
{
    QTableView::focusInEvent(event);
    if (utilityDelegate_) utilityDelegate_->tableViewDidBecomeFirstResponder(*this);
}

void CustomTableViewForPatch::focusOutEvent(QFocusEvent* event)
{
    QTableView::focusOutEvent(event);
    // The focus going to the list's own editor or to its menu is not the list losing it.
    const QWidget* focus = QApplication::focusWidget();
    if (focus && (isAncestorOf(focus) || (menuPopover_ && menuPopover_->isAncestorOf(focus)))) return;
    if (event->reason() == Qt::PopupFocusReason) return;
    closeRightClickMenu();
    clearEditingColours();
}
