// The patch screen's side of the patch pool outline: the tree and its rows, titles and cells, the
// restore-all mode, renames in place, saving patches into the pool, moving items and new groups.

#include <QGuiApplication>
#include <QClipboard>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

#include "app/controls/CustomCellForAttributedString.h"
#include "app/controls/CustomHeaderView.h"
#include "app/controls/CustomScroller.h"
#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchCoordinator.h"
#include "app/patch/PatchDialogs.h"
#include "app/patch/PatchManagerViewController.h"
#include "app/patch/PatchPoolEditor.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "app/shell/AppDelegate.h"
#include "app/views/NamedImages.h"
#include "common/HandOff.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "library/undo/UndoController.h"

void PatchManagerViewController::buildPatchPool(QWidget* pane)
{
    patchPoolEditor_ = std::make_unique<PatchPoolEditor>(
        structureData_, patchItems_,
        PatchPoolEditor::Collaborators{
            coordinator_, [this](std::shared_ptr<UndoAction> action) { undoController_.addActionStack(std::move(action)); },
            [this](const std::string& key, const std::optional<std::string>& argument,
                   const std::optional<std::string>& reasonKey) { dialogs_.showInformation(key, argument, reasonKey); },
            [this] { appDelegate_.setIsPatchPoolChanged(true); }, [this] { appDelegate_.clearColorEditingTextField(); },
            // Safe from the thread the end's save runs on while the main thread waits for it.
            [this](std::function<void()> step) {
                QMetaObject::invokeMethod(this, handoff::carried(std::move(step)), Qt::QueuedConnection);
            },
            [this](const std::shared_ptr<UndoAction>& action) { undoController_.withdrawAction(action); },
            [this] { reloadDataInPatchPoolForItems({}); }});
    patchPoolModel_ = new PatchPoolModel(*this, this);
    rightPanelOutlineView_ = new PatchPoolOutlineView(pane);
    auto* scroller = new CustomScroller(rightPanelOutlineView_);
    rightPanelOutlineView_->setVerticalScrollBar(scroller);
    rightPanelOutlineView_->setVerticalScroller(scroller);
    rightPanelOutlineView_->setPoolModel(patchPoolModel_);
    // Its header is as tall as the list's, so the rows of both panes start level.
    auto* header = new CustomHeaderView(rightPanelOutlineView_);
    header->setFixedHeight(kHeaderHeight);
    rightPanelOutlineView_->setHeader(header);
    header->setStretchLastSection(true);
    header->headerCell(0).setHeaderType(CustomHeaderCell::PatchPool);
    rightPanelOutlineView_->setBackUpDelegate(this);
    rightPanelOutlineView_->setRightClickPatchPoolDelegate(this);
    rightPanelOutlineView_->setAppDelegate(&appDelegate_);
    rightPanelOutlineView_->setTextRuleContext(textRules_);
    rightPanelOutlineView_->setUndoAction([this] { undoController_.doUndoAction(); });
    rightPanelOutlineView_->setCanBeUndo([this] { return undoController_.canBeUndo(); });
    rightPanelOutlineView_->setNumberOfDraggedItemsInPatchList([this]() -> std::uint64_t {
        return patchManagerTableView_ && patchManagerTableView_->selectionModel()
                   ? static_cast<std::uint64_t>(patchManagerTableView_->selectionModel()->selectedRows().size())
                   : 0;
    });
    pane->layout()->addWidget(rightPanelOutlineView_);
}

void PatchManagerViewController::reloadPatchPoolSelecting(const Nodes& nodes)
{
    reloadDataInPatchPoolForItems(nodes);
    // A closed group that received one of them opens, so the user sees where they went.
    for (const Node& node : nodes) {
        const QModelIndex group = node ? patchPoolModel_->indexOf(node.get()).parent() : QModelIndex();
        if (group.isValid() && !rightPanelOutlineView_->isExpanded(group)) rightPanelOutlineView_->expandItem(group);
    }
    std::vector<int> rows;
    for (const Node& node : nodes) {
        const int row = rightPanelOutlineView_->rowForIndex(patchPoolModel_->indexOf(node.get()));
        if (row >= 0) rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    rightPanelOutlineView_->selectRows(rows);
    if (!rows.empty()) rightPanelOutlineView_->scrollTo(rightPanelOutlineView_->indexForRow(rows.front()));
}

// ---- the tree, its rows and cells ----

std::int64_t PatchManagerViewController::numberOfChildrenOfItem(const DirectoryObject* item)
{
    return static_cast<std::int64_t>(item == nullptr ? structureData_.size() : item->childDirectories.size());
}

PatchManagerViewController::Node PatchManagerViewController::childOfItem(std::int64_t index, const DirectoryObject* item)
{
    const auto& children = item == nullptr ? structureData_ : item->childDirectories;
    return index >= 0 && static_cast<std::size_t>(index) < children.size() ? children[static_cast<std::size_t>(index)]
                                                                           : nullptr;
}

bool PatchManagerViewController::isItemExpandable(const DirectoryObject& item) { return !item.childDirectories.empty(); }

double PatchManagerViewController::heightOfRowByItem(const DirectoryObject& item)
{
    return item.isGroup ? kGroupRowHeight : kPatchRowHeight;
}

// A row's group as the view maps it: every painted row asks, and a walk of the tree for each made a third of
// a large pool's drawing.
PatchManagerViewController::Node PatchManagerViewController::shownParentOf(const DirectoryObject& item) const
{
    return patchPoolModel_ ? patchPoolModel_->parentNodeOf(patchPoolModel_->indexOf(&item)) : patchPoolEditor_->parentOf(&item);
}

PatchPoolRules::Title PatchManagerViewController::objectValueForItem(const DirectoryObject& item)
{
    const Node parent = shownParentOf(item);
    return PatchPoolRules::titleForItem(item, parent.get(), editingItemInPool_.get(), bankItems_);
}

PatchManagerViewController::Cell PatchManagerViewController::willDisplayCellForItem(const DirectoryObject& item)
{
    Cell cell;
    if (item.isGroup) return cell;
    static const QImage swatch = CustomCellForAttributedString::swatch(QColor(247, 148, 30));
    cell.iconImage = swatch;
    if (item.isWarning) cell.statusImage = NamedImages::image(QStringLiteral("warning-icon"));
    cell.isSingleItem = shownParentOf(item) == nullptr;
    return cell;
}

bool PatchManagerViewController::shouldEditItem(const Node& item)
{
    editingItemInPool_ = item;
    return true;
}

void PatchManagerViewController::setObjectValue(const std::string& text, const Node& item)
{
    editingItemInPool_ = nullptr;
    patchPoolEditor_->renameItem(item, text);
}

// ---- the restore-all mode ----

void PatchManagerViewController::outlineViewSelectionDidChange()
{
    setIsRestoreAllMode(false);
    setArrowImageWithBackupAllAndRestoreAllState();
    const std::vector<int> rows = rightPanelOutlineView_->selectedRowList();
    if (rows.empty()) return;
    const Node first = patchPoolModel_->nodeAt(rightPanelOutlineView_->indexForRow(rows.front()));
    if (PatchPoolRules::restoreAllModeForSelection(first.get())) {
        setIsRestoreAllMode(true);
        setArrowImageWithBackupAllAndRestoreAllState();
    }
}

void PatchManagerViewController::didClickOnItem(const Node& item, std::int64_t index)
{
    const std::vector<int> rows = rightPanelOutlineView_->selectedRowList();
    const bool selected = index >= 0 && std::find(rows.begin(), rows.end(), static_cast<int>(index)) != rows.end();
    const auto mode = PatchPoolRules::restoreAllModeForClick(item.get(), selected);
    if (!mode) return;
    setIsRestoreAllMode(false);
    setArrowImageWithBackupAllAndRestoreAllState();
    if (*mode) {
        setIsRestoreAllMode(true);
        setArrowImageWithBackupAllAndRestoreAllState();
    }
}

// ---- saving patches into the pool ----

bool PatchManagerViewController::writeFilePatch(PatchItem& patch, const std::string& toPath, bool errorDialog)
{
    return patchPoolEditor_->writeFilePatch(patch, toPath, errorDialog);
}

PatchManagerViewController::Node PatchManagerViewController::backupToPatchDirectoryWithPatchItem(const PatchItem& patch)
{
    return patchPoolEditor_->backupToPatchDirectoryWithPatchItem(patch);
}

PatchManagerViewController::Node PatchManagerViewController::backupToPatchDirectoryWithIndex(std::int64_t index)
{
    return patchPoolEditor_->backupToPatchDirectoryWithIndex(index);
}

// The tree shows a save into the pool at once; its copies are made on the pool's queue, and the rows are
// drawn again when they land (a failed one leaves the pool).
std::function<void(const PatchManagerViewController::Nodes&)> PatchManagerViewController::reloadPatchPoolWhenCopied()
{
    beginPoolWork();
    return [self = QPointer<PatchManagerViewController>(this)](const Nodes& copied) {
        if (!self) return;
        // The rows the user has selected by then stay selected through the reload.
        std::vector<const DirectoryObject*> selected;
        for (const auto& entry : self->selectedPoolEntries()) selected.push_back(entry.childItem.get());
        self->reloadDataInPatchPoolForItems(copied);
        std::vector<int> rows;
        for (const DirectoryObject* node : selected)
            if (const int row = self->rightPanelOutlineView_->rowForIndex(self->patchPoolModel_->indexOf(node)); row >= 0)
                rows.push_back(row);
        std::sort(rows.begin(), rows.end());
        self->rightPanelOutlineView_->selectRows(rows);
        self->endPoolWork();
    };
}

void PatchManagerViewController::beginPoolWork()
{
    if (poolWorks_++ > 0 || !patchPoolIndicator_ || !patchPoolPane_) return;
    // Shown only when the work outlasts a moment: most saves are done before anyone could see it.
    QTimer::singleShot(kPoolWorkShownAfterMilliseconds, patchPoolIndicator_, [this] {
        if (poolWorks_ == 0 || !patchPoolIndicator_ || !patchPoolPane_) return;
        patchPoolIndicator_->setGeometry(patchPoolPane_->rect());
        patchPoolIndicator_->raise();
        patchPoolIndicator_->show();
    });
}

void PatchManagerViewController::endPoolWork()
{
    if (poolWorks_ == 0 || --poolWorks_ > 0) return;
    if (patchPoolIndicator_) patchPoolIndicator_->hide();
}

void PatchManagerViewController::addBackUpPatchItemAtIndexs(const Rows& rows, const Node& target, bool isAbove)
{
    takeUnitChanges();
    const auto landed = reloadPatchPoolWhenCopied();
    reloadPatchPoolSelecting(patchPoolEditor_->addBackUpPatchItemAtIndexs(rows, target, isAbove, landed));
}

void PatchManagerViewController::insertBackUpPatchForPatchItemAtIndexs(const Rows& rows, const Node& group,
                                                                       std::uint64_t indexInGroup, bool isAbove)
{
    takeUnitChanges();
    const auto landed = reloadPatchPoolWhenCopied();
    reloadPatchPoolSelecting(patchPoolEditor_->insertBackUpPatchForPatchItemAtIndexs(rows, group, indexInGroup, isAbove, landed));
}

void PatchManagerViewController::addBackUpPatchItems(const Patches& items, const Node& target, bool isAbove)
{
    const auto landed = reloadPatchPoolWhenCopied();
    reloadPatchPoolSelecting(patchPoolEditor_->addBackUpPatchItems(items, target, isAbove, landed));
}

void PatchManagerViewController::addBackUpPatchItems(const Patches& items, const Node& group,
                                                     std::uint64_t indexInGroup, bool isAbove)
{
    const auto landed = reloadPatchPoolWhenCopied();
    reloadPatchPoolSelecting(patchPoolEditor_->addBackUpPatchItems(items, group, indexInGroup, isAbove, landed));
}

void PatchManagerViewController::createNewGroupWithPatchIndexs(const Rows& rows, const Node& target, bool isAbove)
{
    takeUnitChanges();
    const auto landed = reloadPatchPoolWhenCopied();
    reloadPatchPoolSelecting({patchPoolEditor_->createNewGroupWithPatchIndexs(
        rows, target, isAbove, [landed](const Node& group) { landed(group->childDirectories); })});
}

void PatchManagerViewController::createNewGroupWithPatchItems(const Patches& items, const Node& target, bool isAbove)
{
    const auto landed = reloadPatchPoolWhenCopied();
    reloadPatchPoolSelecting({patchPoolEditor_->createNewGroupWithPatchItems(
        items, target, isAbove, [landed](const Node& group) { landed(group->childDirectories); })});
}

// ---- moving inside the pool, new groups ----

void PatchManagerViewController::changePositionWithItems(const PoolSelectionEntries& items, const Node& target,
                                                         std::int64_t draggingPosition)
{
    const Nodes moved = patchPoolEditor_->changePositionWithItems(items, target, draggingPosition);
    // A drop that moved nothing (released where it started) leaves the dragged items selected.
    if (moved.empty()) reloadDataInPatchPoolForItems({});
    else reloadPatchPoolSelecting(moved);
}

void PatchManagerViewController::didClickOnCreateGroupButtonAtItem(PatchPoolOutlineView*, const Node&, const Node&)
{
    reloadPatchPoolSelecting({patchPoolEditor_->createEmptyGroupAtTop()});
}
