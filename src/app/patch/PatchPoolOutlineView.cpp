#include "app/patch/PatchPoolOutlineView.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <functional>
#include <utility>

#include "app/controls/ControlClick.h"
#include "app/controls/AutoClosePopover.h"
#include "app/controls/DisclosureTriangle.h"
#include "app/controls/CustomScroller.h"
#include "app/patch/OptionMenuForPatchPool.h"
#include "app/patch/BackupPatch.h"
#include "app/patch/PatchPoolDataSource.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPoolOutlineViewDelegate.h"
#include "app/patch/PatchPoolRules.h"
#include "app/patch/PoolNameEditor.h"
#include "app/patch/PoolRowDelegate.h"
#include "app/shell/AppDelegate.h"
#include "library/models/DirectoryObject.h"

namespace {

const QColor kBackground(30, 45, 75);

}  // namespace

PatchPoolOutlineView::PatchPoolOutlineView(QWidget* parent) : QTreeView(parent)
{
    setObjectName(QStringLiteral("PatchPoolOutlineView"));
    setIndentation(16);
    setUniformRowHeights(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    QPalette colours = palette();
    colours.setColor(QPalette::Base, kBackground);
    colours.setColor(QPalette::Window, kBackground);
    // The row cell draws the selection; the view has no highlight of its own.
    colours.setColor(QPalette::Highlight, Qt::transparent);
    setPalette(colours);
    viewport()->setAutoFillBackground(true);
    setItemDelegate(new PoolRowDelegate(
        [this](const QModelIndex& index, QWidget* parent) { return makeEditor(index, parent); }, this));
    connect(this, &QTreeView::expanded, this, [this](const QModelIndex& index) {
        expandedItems_.insert(static_cast<const DirectoryObject*>(index.internalPointer()));
        updateRuler();
    });
    connect(this, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
        expandedItems_.remove(static_cast<const DirectoryObject*>(index.internalPointer()));
        updateRuler();
    });
}

PatchPoolOutlineView::~PatchPoolOutlineView() { numberOfDraggedItems_ = {}; }

void PatchPoolOutlineView::setPoolModel(PatchPoolModel* model)
{
    model_ = model;
    setModel(model);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        rememberSelection();
        if (model_) model_->dataSource().outlineViewSelectionDidChange();
    });
}

// ---- drawing and the ruler ----

void PatchPoolOutlineView::paintEvent(QPaintEvent* event)
{
    // The scroll observer is registered at the first drawing, once.
    if (!observerRegistered_) {
        observerRegistered_ = true;
        connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &PatchPoolOutlineView::boundDidChange);
    }
    QTreeView::paintEvent(event);
}

void PatchPoolOutlineView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem row = option;
    row.state &= ~QStyle::State_HasFocus;
    QTreeView::drawRow(painter, row, index);
}

void PatchPoolOutlineView::drawBranches(QPainter* painter, const QRect& rect, const QModelIndex& index) const
{
    // A light triangle at the group's left, pointing down while the group is open.
    if (!model_ || !model_->hasChildren(index)) return;
    DisclosureTriangle::draw(*painter, rect, indentation(), isExpanded(index));
}

void PatchPoolOutlineView::boundDidChange()
{
    ++boundsChangeCount_;
    closeRightClickMenu();
    // A popover holding the focus gives it back to the pool.
    QWidget* focus = QApplication::focusWidget();
    if (focus != nullptr && (focus->window()->windowFlags() & Qt::Popup) == Qt::Popup) setFocus();
    updateRuler();
}

void PatchPoolOutlineView::updateRuler()
{
    if (verticalScroller_) verticalScroller_->setRulerVisible(isExpandedOverView());
}

QModelIndex PatchPoolOutlineView::lastVisibleIndex() const
{
    if (!model_ || model_->rowCount() == 0) return {};
    QModelIndex last = model_->index(model_->rowCount() - 1, 0);
    while (isExpanded(last) && model_->rowCount(last) > 0) last = model_->index(model_->rowCount(last) - 1, 0, last);
    return last;
}

bool PatchPoolOutlineView::isExpandedOverView() const
{
    const QModelIndex last = lastVisibleIndex();
    if (!last.isValid()) return false;
    const QRect rect = visualRect(last);
    return CustomScroller::isExpandedOverView(numberOfRows(), rect.y() + rect.height() + verticalOffset(),
                                              viewport()->height());
}

void PatchPoolOutlineView::expandItem(const QModelIndex& index)
{
    expand(index);
    const int children = model_ ? model_->rowCount(index) : 0;
    if (children > 0) scrollTo(model_->index(children - 1, 0, index));
    scrollTo(index);
    updateRuler();
}

void PatchPoolOutlineView::collapseItem(const QModelIndex& index)
{
    collapse(index);
    updateRuler();
}

void PatchPoolOutlineView::reloadData()
{
    if (!model_) return;
    // A name being typed outlives the reload (which closes every editor): the item's editor opens again
    // where the item now is, with the typing as it was. An item the reload took away ends the edit.
    QPointer<PoolNameEditor> typing = editor_;
    std::shared_ptr<DirectoryObject> typed = std::exchange(editingNode_, nullptr);
    if (!typing || !typing->isVisible() || endingEdit_) typed.reset();
    const bool dragHeld = state() == DraggingState;
    // A reload keeps the groups that were open open, wherever the tree's change has put them.
    const QSet<const DirectoryObject*> open = expandedItems_;
    expandedItems_.clear();
    // And the items that were selected selected: the model's reset drops the selection without a word,
    // and the screen's restore-all state and its button go by it.
    const std::vector<std::shared_ptr<DirectoryObject>> selected = std::move(selectedNodes_);
    const std::shared_ptr<DirectoryObject> current = std::move(currentNode_);
    selectedNodes_.clear();
    model_->reload();
    if (typing) editor_ = nullptr;
    for (const DirectoryObject* item : open) {
        const QModelIndex index = model_->indexOf(item);
        if (index.isValid() && model_->rowCount(index) > 0) expand(index);
    }
    if (!selected.empty()) selectItemsAgain(selected, current);
    updateRuler();
    if (dragHeld) resumeHeldDrag();
    if (!typed || !typing) return;
    const QModelIndex index = model_->indexOf(typed.get());
    if (!index.isValid() || !model_->dataSource().shouldEditItem(typed)) return;
    edit(index);
    if (editor_ && editor_ != typing) {
        editor_->continueTypingOf(*typing);
        editor_->setFocus();
    }
}

void PatchPoolOutlineView::rememberSelection()
{
    // Taken while the rows still show the tree: by the time of a reload the tree has changed under them.
    selectedNodes_.clear();
    currentNode_.reset();
    if (!model_ || !selectionModel()) return;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        if (auto node = model_->nodeAt(index)) selectedNodes_.push_back(std::move(node));
    currentNode_ = model_->nodeAt(selectionModel()->currentIndex());
}

void PatchPoolOutlineView::selectItemsAgain(const std::vector<std::shared_ptr<DirectoryObject>>& items,
                                            const std::shared_ptr<DirectoryObject>& current)
{
    std::vector<QModelIndex> indexes;
    indexes.reserve(items.size());
    for (const auto& item : items)
        if (const QModelIndex index = model_->indexOf(item.get()); index.isValid()) indexes.push_back(index);
    // Rows next to each other under one parent make one range: a pool selected whole stays one range a
    // level, not thousands.
    std::sort(indexes.begin(), indexes.end(), [](const QModelIndex& a, const QModelIndex& b) {
        const auto* first = a.parent().internalPointer();
        const auto* second = b.parent().internalPointer();
        return first != second ? std::less<const void*>()(first, second) : a.row() < b.row();
    });
    QItemSelection selection;
    for (std::size_t at = 0; at < indexes.size();) {
        std::size_t end = at + 1;
        while (end < indexes.size() && indexes[end].parent() == indexes[at].parent() &&
               indexes[end].row() == indexes[end - 1].row() + 1)
            ++end;
        selection.select(indexes[at], indexes[end - 1]);
        at = end;
    }
    // The reset left nothing selected: selecting what is still there tells the screen; when nothing is,
    // it is told here.
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (const QModelIndex index = model_->indexOf(current.get()); index.isValid())
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    if (selection.isEmpty()) model_->dataSource().outlineViewSelectionDidChange();
}

// ---- rows ----

int PatchPoolOutlineView::numberOfRows() const
{
    int rows = 0;
    if (!model_) return 0;
    for (QModelIndex index = model_->index(0, 0); index.isValid(); index = indexBelow(index)) ++rows;
    return rows;
}

int PatchPoolOutlineView::rowForIndex(const QModelIndex& wanted) const
{
    if (!model_ || !wanted.isValid()) return -1;
    int row = 0;
    for (QModelIndex index = model_->index(0, 0); index.isValid(); index = indexBelow(index), ++row)
        if (index == wanted) return row;
    return -1;
}

QModelIndex PatchPoolOutlineView::indexForRow(int wanted) const
{
    if (!model_ || wanted < 0) return {};
    int row = 0;
    for (QModelIndex index = model_->index(0, 0); index.isValid(); index = indexBelow(index), ++row)
        if (row == wanted) return index;
    return {};
}

std::vector<int> PatchPoolOutlineView::selectedRowList() const
{
    std::vector<int> rows;
    if (!selectionModel() || !model_ || !selectionModel()->hasSelection()) return rows;
    // One walk down the shown rows, not one a selected row: every reload tells the screen of the
    // selection it kept, and a pool selected whole would cost the square of its rows.
    QSet<const void*> selected;
    for (const QModelIndex& index : selectionModel()->selectedRows()) selected.insert(index.internalPointer());
    int row = 0;
    for (QModelIndex index = model_->index(0, 0); index.isValid() && rows.size() < std::size_t(selected.size());
         index = indexBelow(index), ++row)
        if (selected.contains(index.internalPointer())) rows.push_back(row);
    return rows;
}

void PatchPoolOutlineView::selectRows(const std::vector<int>& rows)
{
    QItemSelection selection;
    for (const int row : rows) {
        const QModelIndex index = indexForRow(row);
        if (index.isValid()) selection.select(index, index);
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (!rows.empty()) selectionModel()->setCurrentIndex(indexForRow(rows.front()), QItemSelectionModel::NoUpdate);
}

int PatchPoolOutlineView::editedRow() const { return editor_ ? rowForIndex(editingIndex_) : -1; }

PoolNameEditor* PatchPoolOutlineView::nameEditor() const { return editor_; }

// ---- clicks ----

void PatchPoolOutlineView::clearEditingColours()
{
    if (!appDelegate_) return;
    appDelegate_->clearColorEditingTextField();
    appDelegate_->clearColorEditingTextView();
}

void PatchPoolOutlineView::mousePressEvent(QMouseEvent* event)
{
    clickCount_ = 1;
    if (isLockPatchPool_) return;
    clearEditingColours();
    mouseDownPoint_ = event->scenePosition();
    mouseDownRowY_ = event->position().y();
    setFocus(Qt::MouseFocusReason);
    // The selection changes on release; the platform's own press handling does not run.
}

void PatchPoolOutlineView::mouseDoubleClickEvent(QMouseEvent* event)
{
    mousePressEvent(event);
    clickCount_ = 2;
}

void PatchPoolOutlineView::mouseMoveEvent(QMouseEvent* event)
{
    // A move never changes the selection; it may start a drag of it.
    if (event->buttons() & Qt::LeftButton) mouseDragged(event->scenePosition());
}

void PatchPoolOutlineView::mouseReleaseEvent(QMouseEvent* event)
{
    closeRightClickMenu();
    if (isLockPatchPool_ || !model_) return;
    // A Control-click is a right click: the pool's Ctrl-click picks rows.
    if (ControlClick::isRightClick(event->button(), event->modifiers(), true)) {
        emit rightMouseReleased(event->position().toPoint());
        rightMouseUp(event->position().toPoint());
        return;
    }
    if (event->button() != Qt::LeftButton) return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid()) {
        selectionModel()->clearSelection();
        if (backUpDelegate_) backUpDelegate_->didClickOnItem(nullptr, -1);
        return;
    }
    const int row = rowForIndex(index);
    const auto node = model_->nodeAt(index);
    if (backUpDelegate_) backUpDelegate_->didClickOnItem(node, row);

    if (clickCount_ == 1) {
        std::vector<int> selection{row};
        if (event->modifiers() & Qt::ControlModifier) {
            selection = PatchPoolRules::commandClickSelection(selectedRowList(), row, [this](int at) {
                const QModelIndex rowIndex = indexForRow(at);
                const auto* item = static_cast<const DirectoryObject*>(rowIndex.internalPointer());
                const QModelIndex parentIndex = rowIndex.parent();
                return PatchPoolRules::Row{item, static_cast<const DirectoryObject*>(parentIndex.internalPointer())};
            });
        }
        selectRows(selection);
        if (isExpanded(index)) {
            // The group's selected children are dropped; the rest stay selected.
            for (int child = 0; child < model_->rowCount(index); ++child)
                selectionModel()->select(model_->index(child, 0, index),
                                         QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
            collapseItem(index);
        } else if (model_->hasChildren(index)) {
            expandItem(index);
        }
    } else if (clickCount_ == 2) {
        const std::vector<int> selected = selectedRowList();
        const bool clickedSelected = std::find(selected.begin(), selected.end(), row) != selected.end();
        // With no row selected there is nothing to rename.
        if (clickedSelected) editItemAtRow(row);
        else if (!selected.empty()) editItemAtRow(selected.front());
    }
}

// ---- renaming ----

void PatchPoolOutlineView::editItemAtRow(int row)
{
    const QModelIndex index = indexForRow(row);
    if (!index.isValid() || !model_) return;
    if (!model_->dataSource().shouldEditItem(model_->nodeAt(index))) return;
    selectRows({row});
    edit(index);
}

PoolNameEditor* PatchPoolOutlineView::makeEditor(const QModelIndex& index, QWidget* parent)
{
    const auto node = model_ ? model_->nodeAt(index) : nullptr;
    if (!node) return nullptr;
    auto* editor = new PoolNameEditor(node->isGroup, node->name.value_or(""), textRules_, parent);
    editor->setFont(index.data(Qt::FontRole).value<QFont>());
    QPalette colours = editor->palette();
    colours.setColor(QPalette::Base, QColor(255, 255, 255));
    colours.setColor(QPalette::Text, QColor(0, 0, 0));
    editor->setPalette(colours);
    editingIndex_ = index;
    editingNode_ = node;
    editor_ = editor;
    return editor;
}

void PatchPoolOutlineView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    // Escape ends the edit with the old name, which reaches the screen like any name, so it stops showing
    // the row as edited.
    const bool ending = std::exchange(endingEdit_, true);
    auto* nameEditor = qobject_cast<PoolNameEditor*>(editor);
    if (hint == QAbstractItemDelegate::RevertModelCache && nameEditor != nullptr && model_ && editingIndex_.isValid()) {
        nameEditor->cancelOperation();
        model_->setData(editingIndex_, QString::fromStdString(nameEditor->oldName()), Qt::EditRole);
    }
    QTreeView::closeEditor(editor, hint == QAbstractItemDelegate::RevertModelCache ? QAbstractItemDelegate::NoHint : hint);
    if (editor == editor_) {
        editor_ = nullptr;
        editingNode_.reset();
    }
    endingEdit_ = ending;
    setFocus();
}

void PatchPoolOutlineView::endEditing()
{
    if (!editor_) return;
    QPointer<PoolNameEditor> editor = editor_;
    commitData(editor);
    // The commit may have reloaded the tree, which closes the editor itself.
    if (editor && editor == editor_) closeEditor(editor, QAbstractItemDelegate::NoHint);
}

void PatchPoolOutlineView::commitData(QWidget* editor)
{
    const bool ending = std::exchange(endingEdit_, true);
    QTreeView::commitData(editor);
    endingEdit_ = ending;
}

// ---- keys ----

void PatchPoolOutlineView::inputMethodEvent(QInputMethodEvent* event) { event->accept(); }

void PatchPoolOutlineView::keyPressEvent(QKeyEvent* event)
{
    event->accept();
    if (isLockPatchPool_) return;
    // Ctrl+Z alone: Ctrl+Shift+Z is the desktop's Redo, which takes nothing back here.
    const Qt::KeyboardModifiers chord = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Z && (chord & Qt::ControlModifier) && !(chord & (Qt::ShiftModifier | Qt::AltModifier))) {
        if (!(appDelegate_ && appDelegate_->isUndoHeld()) && undoAction_) undoAction_();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
        QTreeView::keyPressEvent(event);
        return;
    default:
        // Any other key is swallowed.
        return;
    }
}

void PatchPoolOutlineView::keyReleaseEvent(QKeyEvent* event)
{
    event->accept();
    if (isLockPatchPool_ || event->key() != Qt::Key_F2) return;
    const std::vector<int> selected = selectedRowList();
    if (!selected.empty() && selected.front() != editedRow()) editItemAtRow(selected.front());
}

// ---- focus ----

void PatchPoolOutlineView::focusOutEvent(QFocusEvent* event)
{
    QTreeView::focusOutEvent(event);
    closeRightClickMenu();
    clearEditingColours();
    if (backUpDelegate_) backUpDelegate_->outlineViewDidResignFirstResponder();
}

// ---- the option menu ----

void PatchPoolOutlineView::closeRightClickMenu()
{
    if (menuPopover_) menuPopover_->close();
}

void PatchPoolOutlineView::rightMouseUp(QPoint position)
{
    clearEditingColours();
    if (appDelegate_ && appDelegate_->isShowingDialog()) return;
    const QModelIndex index = indexAt(position);
    if (!index.isValid()) {
        drawEmptyOptionMenu(position);
        return;
    }
    // A right click inside the selection keeps it; outside, the row becomes the selection alone.
    const int row = rowForIndex(index);
    const std::vector<int> selected = selectedRowList();
    if (std::find(selected.begin(), selected.end(), row) == selected.end()) selectRows({row});
    drawOptionMenu(position);
}

OptionMenuForPatchPool* PatchPoolOutlineView::optionMenu() const
{
    auto* popover = qobject_cast<AutoClosePopover*>(menuPopover_.data());
    return popover ? qobject_cast<OptionMenuForPatchPool*>(popover->contentWidget()) : nullptr;
}

void PatchPoolOutlineView::showOptionMenu(OptionMenuForPatchPool* menu, QPoint position)
{
    auto* popover = qobject_cast<AutoClosePopover*>(menuPopover_.data());
    if (!popover) {
        popover = new AutoClosePopover(this);
        popover->setObjectName(QStringLiteral("PatchPoolMenuPopover"));
        menuPopover_ = popover;
    }
    closeRightClickMenu();
    popover->setContentWidget(menu);
    popover->showAtPointer(viewport()->mapToGlobal(position));
    popover->setFocus(Qt::PopupFocusReason);
}

void PatchPoolOutlineView::drawOptionMenu(QPoint position)
{
    // Ends any rename in progress.
    if (QWidget* focus = QApplication::focusWidget()) focus->clearFocus();
    if (!model_ || !appDelegate_) return;
    const QModelIndex clicked = indexAt(position);
    const Node item = model_->nodeAt(clicked);
    const Node group = clicked.isValid() ? model_->nodeAt(clicked.parent()) : nullptr;
    PoolSelectionEntries entries;
    for (const int row : selectedRowList()) {
        const QModelIndex index = indexForRow(row);
        const Node child = model_->nodeAt(index);
        if (!child) continue;
        entries.push_back({model_->nodeAt(index.parent()), child});
    }
    const std::int64_t mask = OptionMenuForPatchPool::maskForSelection(entries);
    showOptionMenu(new OptionMenuForPatchPool(mask, item, group, std::move(entries), this, *appDelegate_,
                                              canBeUndo_ && canBeUndo_()),
                   position);
}

void PatchPoolOutlineView::drawEmptyOptionMenu(QPoint position)
{
    if (QWidget* focus = QApplication::focusWidget()) focus->clearFocus();
    if (!appDelegate_) return;
    showOptionMenu(new OptionMenuForPatchPool(OptionMenuForPatchPool::kEmptySpace, nullptr, nullptr, {}, this,
                                              *appDelegate_, canBeUndo_ && canBeUndo_()),
                   position);
}

void PatchPoolOutlineView::optionMenuForPatchPoolDidClickOnButtonRestoreAllToDeviceAtItem(OptionMenuForPatchPool*,
                                                                                        const Node& item,
                                                                                        const Node& group)
{
    if (rightClickDelegate_) rightClickDelegate_->didClickOnButtonRestoreAllToDeviceAtItem(this, item, group);
    closeRightClickMenu();
}

void PatchPoolOutlineView::optionMenuForPatchPoolDidClickOnButtonCopyToDeviceMemoryAtItem(OptionMenuForPatchPool*,
                                                                                        const Node& item,
                                                                                        const Node& group)
{
    if (rightClickDelegate_) rightClickDelegate_->didClickOnButtonCopyToDeviceMemoryAtItem(this, item, group);
    closeRightClickMenu();
}

void PatchPoolOutlineView::optionMenuForPatchPoolDidClickOnButtonCopyToDeviceMemoryAtItems(
    OptionMenuForPatchPool*, const PoolSelectionEntries& items)
{
    if (rightClickDelegate_) rightClickDelegate_->didClickOnButtonCopyToDeviceMemoryAtItems(this, items);
    closeRightClickMenu();
}

void PatchPoolOutlineView::optionMenuForPatchPoolDidClickOnPropertyButtonAtItem(OptionMenuForPatchPool*,
                                                                              const Node& item, const Node& group)
{
    if (rightClickDelegate_) rightClickDelegate_->didClickOnPropertyButtonAtItem(this, item, group);
    closeRightClickMenu();
}

void PatchPoolOutlineView::optionMenuForPatchPoolDidClickOnUndoButtonAtItem(OptionMenuForPatchPool*, const Node& item,
                                                                          const Node& group)
{
    if (rightClickDelegate_) rightClickDelegate_->didClickOnUndoButtonAtItem(this, item, group);
    closeRightClickMenu();
}

void PatchPoolOutlineView::optionMenuForPatchPoolDidClickOnDeleteButtonAtItem(OptionMenuForPatchPool*,
                                                                            const Node& item, const Node& group)
{
    if (rightClickDelegate_) rightClickDelegate_->didClickOnDeleteButtonAtItem(this, item, group);
    closeRightClickMenu();
}

void PatchPoolOutlineView::optionMenuForPatchPoolDidClickOnDeleteButtonWithItems(OptionMenuForPatchPool*,
                                                                               const PoolSelectionEntries& items)
{
    if (rightClickDelegate_) rightClickDelegate_->didClickOnDeleteButtonWithItems(this, items);
    closeRightClickMenu();
}

void PatchPoolOutlineView::optionMenuForPatchPoolDidClickOnCreateGroupButtonAtItem(OptionMenuForPatchPool*,
                                                                                 const Node& item, const Node& group)
{
    if (rightClickDelegate_) rightClickDelegate_->didClickOnCreateGroupButtonAtItem(this, item, group);
    closeRightClickMenu();
}

bool PatchPoolOutlineView::optionMenuForPatchPoolCanCopyToDeviceMemory(OptionMenuForPatchPool*)
{
    return rightClickDelegate_ != nullptr && rightClickDelegate_->patchPoolOutlineViewCanCopyToDeviceMemory(this);
}
