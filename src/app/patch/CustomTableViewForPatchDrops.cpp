// The device list as a drag source and a drop target: its rows reordered, dragged into the pool or a
// folder; pool items, patch files and archived patches dropped on it.

#include <QDrag>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QItemSelectionModel>
#include <QTimer>

#include <unordered_map>

#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/DropMarkerView.h"
#include "app/patch/DroppedPaths.h"
#include "app/patch/PatchDragMimeData.h"
#include "app/patch/PatchListDragRules.h"
#include "app/patch/PatchManagerViewController.h"
#include "app/patch/TableViewForUtilityDelegate.h"
#include "app/shell/AppDelegate.h"
#include "library/models/PatchItem.h"

namespace {

bool isGeneric(const QDropEvent& event) { return (event.possibleActions() & Qt::CopyAction) != 0; }

bool carries(const QMimeData* data, const char* type) { return data && data->hasFormat(QString::fromLatin1(type)); }

std::vector<std::string> archivedPaths(const std::vector<std::shared_ptr<PatchItem>>& archived)
{
    std::vector<std::string> paths;
    for (const auto& item : archived) paths.push_back(item->path);
    return paths;
}

}  // namespace

std::string CustomTableViewForPatch::ownFolder() const
{
    return dropServices_.applicationFolder ? dropServices_.applicationFolder() : std::string();
}

DropMarkerView* CustomTableViewForPatch::dropMarker() const
{
    return marker_ && marker_->isVisible() ? marker_.data() : nullptr;
}

void CustomTableViewForPatch::startRowDrag()
{
    dragState_.draggedIndexSet = selectedRows();
    if (dragState_.draggedIndexSet.empty()) return;
    dragState_.isDraggingFromTable = true;
    dragState_.isDraggingUncontinuousFiles = PatchListDragRules::isUncontinuous(dragState_.draggedIndexSet);
    std::unique_ptr<PatchDragMimeData> data =
        dragDataFactory_ ? dragDataFactory_(this, PatchDragMimeData::kListRowsType) : nullptr;
    if (data) {
        if (dragStarter_) {
            dragStarter_(std::move(data));
        } else {
            auto* drag = new QDrag(this);
            drag->setMimeData(data.release());
            drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
        }
    }
    // However the drag ended, the next one starts clean: a drag left marked as the list's own would take
    // the next foreign one for a reorder.
    endDrag();
}

void CustomTableViewForPatch::endDrag()
{
    removeMarker();
    dragState_.isDraggingFromTable = false;
    dragState_.isDroppingBackupAllGroup = false;
    dragState_.isDraggingToLastLine = false;
    dragState_.numberOfSentItems = 0;
}

void CustomTableViewForPatch::removeMarker()
{
    if (marker_) marker_->hide();
}

void CustomTableViewForPatch::drawMarker(int row, bool bottom)
{
    if (row < 0 || !model() || row >= model()->rowCount()) {
        removeMarker();
        return;
    }
    const QRect rowRect(0, rowViewportPosition(row), viewport()->width(), rowHeight(row));
    if (!marker_) marker_ = new DropMarkerView(viewport());
    marker_->place(bottom ? DropMarkerView::listBottomFrame(rowRect) : DropMarkerView::listTopFrame(rowRect),
                   DropMarkerView::Shape::Frame);
}

void CustomTableViewForPatch::selectRowWhenDraggingAtRow(std::int64_t start, std::int64_t count)
{
    if (!model() || !selectionModel()) return;
    const auto rows = PatchListDragRules::rowsWhenDragging(start, count, model()->rowCount(),
                                                           [this](int row) { return isEmptyRow(row); });
    QItemSelection selection;
    for (const std::uint64_t row : rows) {
        const QModelIndex index = model()->index(static_cast<int>(row), 0);
        selection.select(index, index);
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    setFocus(Qt::OtherFocusReason);
}

int CustomTableViewForPatch::dragOver(QDragMoveEvent* event, bool entering)
{
    using Rules = PatchListDragRules;
    if (lockTableView_ || !model()) return Rules::kNone;
    const PatchDragMimeData* ours = PatchDragMimeData::ours(event->mimeData(), event->source());
    const int rowCount = model()->rowCount();

    if (ours && ours->sourceView() == this && dragState_.isDraggingFromTable) {
        if (Rules::reorderAnswer(false, dragState_.isDraggingUncontinuousFiles) == Rules::kNone) return Rules::kNone;
        const double y = event->position().y();
        const int under = rowAt(static_cast<int>(y));
        const std::int64_t proposed =
            Rules::proposedRow(y, rowCount, under, under >= 0 ? rowViewportPosition(under) : 0, under >= 0 ? rowHeight(under) : 0);
        const int answer = dropServices_.validateDrop ? dropServices_.validateDrop(proposed, true) : Rules::kGeneric;
        const int markerRow = Rules::reorderMarkerRow(dragState_.row, rowCount);
        if (dragState_.row < 0 || dragState_.row >= rowCount) dragState_.row = markerRow;
        drawMarker(markerRow, dragState_.isDraggingToLastLine);
        return answer;
    }
    if (ours && ours->sourceView() == this) return Rules::kNone;

    Rules::Foreign drag;
    drag.locked = lockTableView_;
    drag.generic = isGeneric(*event);
    drag.rowUnderPointer = rowAt(static_cast<int>(event->position().y()));
    drag.rowIsEmpty = isEmptyRow(drag.rowUnderPointer);
    drag.fromPool = ours && std::string(ours->dragType()) == PatchDragMimeData::kPoolItemsType;
    drag.poolCount = dropServices_.numberOfDraggedItems;
    drag.restoringAll = appDelegate_.isRestoringAll();
    drag.rowCount = rowCount;
    if (entering) {
        std::vector<std::string> paths = PatchDragMimeData::localFiles(event->mimeData());
        if (carries(event->mimeData(), PatchDragMimeData::kPatchItemsType))
            for (const auto& item : PatchDragMimeData::decodePatchItems(
                     event->mimeData()->data(QString::fromLatin1(PatchDragMimeData::kPatchItemsType))))
                paths.push_back(item->path);
        // Read at each entry, as nothing tells a drag coming back from a new one of files that may have
        // changed since; and no further than the list has slots, whatever the drag carries.
        const std::int64_t slotCount = dropServices_.numberOfDeviceSlots ? dropServices_.numberOfDeviceSlots() : 0;
        drag.fileCount = Rules::countDroppableFiles(
            paths, ownFolder(),
            [this](const std::string& path) {
                return dropServices_.isPatchFile && dropServices_.isPatchFile(path) &&
                       !(dropServices_.isIncompatibleFile && dropServices_.isIncompatibleFile(path));
            },
            slotCount);
    }
    const Rules::Answer answer = entering ? Rules::foreignEntered(drag)
                                          : Rules::foreignUpdated(drag, dragState_.numberOfSentItems,
                                                                  dragState_.isDroppingBackupAllGroup);
    dragState_.row = answer.row;
    dragState_.numberOfSentItems = answer.numberOfSentItems;
    dragState_.isDroppingBackupAllGroup = answer.isDroppingBackupAllGroup;
    if (answer.placeSelection) selectRowWhenDraggingAtRow(dragState_.row, dragState_.numberOfSentItems);
    if (answer.operation == Rules::kNone && selectionModel()) selectionModel()->clearSelection();
    return answer.operation;
}

void CustomTableViewForPatch::dragEnterEvent(QDragEnterEvent* event)
{
    // A drag over the list scrolls it while held at an edge, wherever it could land.
    if (!lockTableView_) setState(DraggingState);
    if (dragOver(event, true) == PatchListDragRules::kNone) {
        removeMarker();
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CustomTableViewForPatch::dragMoveEvent(QDragMoveEvent* event)
{
    // The platform table's own handling starts the scrolling at an edge; the answer is the list's.
    if (!lockTableView_) QTableView::dragMoveEvent(event);
    heldMove_.remember(*event, *viewport());
    answerDragMove(event);
}

void CustomTableViewForPatch::answerDragMove(QDragMoveEvent* event)
{
    if (dragOver(event, false) == PatchListDragRules::kNone) {
        removeMarker();
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CustomTableViewForPatch::scrollContentsBy(int dx, int dy)
{
    QTableView::scrollContentsBy(dx, dy);
    if (state() != DraggingState) return;
    if (const auto move = heldMove_.replay(*viewport())) answerDragMove(move.get());
}

void CustomTableViewForPatch::resumeHeldDrag()
{
    setState(DraggingState);
    // The held move lands on the rows as the reload or the resize laid them out.
    executeDelayedItemsLayout();
    if (const auto move = heldMove_.replay(*viewport())) dragMoveEvent(move.get());
}

void CustomTableViewForPatch::stopDragScrolling()
{
    stopAutoScroll();
    if (state() == DraggingState) setState(NoState);
    heldMove_.forget();
}

void CustomTableViewForPatch::dragLeaveEvent(QDragLeaveEvent* event)
{
    event->accept();
    stopDragScrolling();
    dragState_.isDroppingBackupAllGroup = false;
    dragState_.isDraggingToLastLine = false;
    removeMarker();
    if (!dragState_.isDraggingFromTable) {
        dragState_.numberOfSentItems = 0;
        resetSelectionData();
        if (selectionModel()) selectionModel()->clearSelection();
    }
}

void CustomTableViewForPatch::dropEvent(QDropEvent* event)
{
    using Rules = PatchListDragRules;
    setFocus(Qt::OtherFocusReason);
    const QMimeData* data = event->mimeData();
    const PatchDragMimeData* ours = PatchDragMimeData::ours(data, event->source());
    const std::int64_t row = dragState_.row;
    const std::int64_t deviceSlots = dropServices_.numberOfDeviceSlots ? dropServices_.numberOfDeviceSlots() : 0;
    // Each file is read once in a drop: the count's answers are kept for the copies.
    std::unordered_map<std::string, bool> read;
    const auto accepts = [this, &read](const std::string& path) {
        if (const auto known = read.find(path); known != read.end()) return known->second;
        const bool taken = dropServices_.isPatchFile && dropServices_.isPatchFile(path) &&
                           !(dropServices_.isIncompatibleFile && dropServices_.isIncompatibleFile(path));
        read.emplace(path, taken);
        return taken;
    };
    const auto workingCopy = [this](const std::string& path) {
        return dropServices_.workingCopy ? dropServices_.workingCopy(path) : nullptr;
    };
    // The alerts wait until the drop has returned.
    const auto alert = [this](const char* title, const char* message) {
        auto show = dropServices_.showAlert;
        if (show) QTimer::singleShot(0, this, [show, title, message] { show(title, message); });
    };
    bool accepted = true;
    const bool foreignFromUs = ours && ours->sourceView() != this;

    if (lockTableView_) {
        accepted = false;
    } else if (!ours && carries(data, PatchDragMimeData::kPatchItemsType)) {
        // Archived patches are taken like dropped files: their paths may name any file.
        const auto archived =
            PatchDragMimeData::decodePatchItems(data->data(QString::fromLatin1(PatchDragMimeData::kPatchItemsType)));
        if (archived.empty()) {
            alert("paste error", "paste operation failed");
            accepted = false;
        } else if (!dropServices_.replaceItemByDraggingBlock) {
            alert("Process error", "Does not have processing function");
            accepted = false;
        } else if (row < 0 || DroppedPaths::refusesDrop(archivedPaths(archived), ownFolder())) {
            accepted = false;
        } else {
            const auto items = Rules::takeDroppedFiles(archivedPaths(archived), row, deviceSlots, accepts, workingCopy);
            if (!items.empty()) {
                dropServices_.replaceItemByDraggingBlock(items, row);
                setIsDropped(true);
            }
        }
    } else if (!ours && !PatchDragMimeData::localFiles(data).empty()) {
        const auto paths = PatchDragMimeData::localFiles(data);
        if (row < 0 || !Rules::countDroppableFiles(paths, ownFolder(), accepts, deviceSlots - row)) {
            accepted = false;
        } else {
            const auto items = Rules::takeDroppedFiles(paths, row, deviceSlots, accepts, workingCopy);
            if (!items.empty() && dropServices_.replaceItemByDraggingBlock) {
                dropServices_.replaceItemByDraggingBlock(items, row);
                setIsDropped(true);
            }
        }
    } else if (ours) {
        if (row < 0) {
            accepted = false;
        } else if (ours->sourceView() == this && dragState_.isDraggingFromTable) {
            setIsDropped(true);
            if (utilityDelegate_)
                utilityDelegate_->didChangePositionFromRowIndexSet(*this, selectedRows(),
                                                                   static_cast<std::uint64_t>(Rules::reorderTarget(
                                                                       row, dragState_.isDraggingToLastLine)));
        } else if (foreignFromUs && std::string(ours->dragType()) == PatchDragMimeData::kPoolItemsType) {
            ours->namesOfPromisedFilesDroppedAtDestination(PatchManagerViewController::kPatchListPanel);
        } else {
            accepted = false;
        }
    }
    removeMarker();
    stopDragScrolling();
    if (!dragState_.isDraggingFromTable) endDrag();
    if (accepted) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}
