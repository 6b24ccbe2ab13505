// The pool as a drag source and a drop target: its own items dragged onto the list, into a folder or
// back into the pool; device-list rows and patch files dropped on it.

#include <QDrag>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QPointer>
#include <QResizeEvent>

#include <algorithm>
#include <cmath>

#include "app/patch/BackupPatch.h"
#include "app/patch/DropMarkerView.h"
#include "app/patch/DroppedPaths.h"
#include "app/patch/PatchDragMimeData.h"
#include "app/patch/PatchManagerViewController.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "app/patch/PatchPoolRules.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"

namespace {

// The pool's rows as shown, for the drop rules.
class ViewTree final : public PatchPoolDragRules::Tree {
public:
    explicit ViewTree(const PatchPoolOutlineView& view) : view_(view) {}

    int numberOfRows() const override { return view_.numberOfRows(); }
    PatchPoolDragRules::Node itemAtRow(int row) const override
    {
        return view_.poolModel() ? view_.poolModel()->nodeAt(view_.indexForRow(row)) : nullptr;
    }
    int rowForItem(const PatchPoolDragRules::Node& item) const override
    {
        if (!item || !view_.poolModel()) return -1;
        return view_.rowForIndex(view_.poolModel()->indexOf(item.get()));
    }
    PatchPoolDragRules::Node parentForItem(const PatchPoolDragRules::Node& item) const override
    {
        if (!item || !view_.poolModel()) return nullptr;
        return view_.poolModel()->parentNodeOf(view_.poolModel()->indexOf(item.get()));
    }
    bool isExpandable(const PatchPoolDragRules::Node& item) const override
    {
        return item && !item->childDirectories.empty();
    }
    Rect rectOfRow(int row) const override
    {
        const QRect rect = view_.visualRect(view_.indexForRow(row));
        return {static_cast<double>(rect.y()), static_cast<double>(rect.height())};
    }
    int rowAtY(double y) const override
    {
        const QModelIndex index = view_.indexAt(QPoint(view_.viewport()->width() / 2, static_cast<int>(std::floor(y))));
        return index.isValid() ? view_.rowForIndex(index) : -1;
    }

private:
    const PatchPoolOutlineView& view_;
};

bool isGeneric(const QDropEvent& event) { return (event.possibleActions() & Qt::CopyAction) != 0; }

}  // namespace

const PatchPoolDragRules::Tree& PatchPoolOutlineView::dragTree() const
{
    if (!dragTree_) dragTree_ = std::make_unique<ViewTree>(*this);
    return *dragTree_;
}

DropMarkerView* PatchPoolOutlineView::dropMarker() const { return marker_ && marker_->isVisible() ? marker_.data() : nullptr; }

std::int64_t PatchPoolOutlineView::getNumberOfDraggedItems(const std::function<bool(const DirectoryObject&)>& isSameModel) const
{
    return PatchPoolDragRules::getNumberOfDraggedItems(dragState_.draggedContainers, dragTree(), isSameModel);
}

void PatchPoolOutlineView::draggingDidEnd()
{
    dragState_.draggingDidEnd();
    removeMarker();
}

void PatchPoolOutlineView::mouseDragged(QPointF scenePoint)
{
    if (isLockPatchPool_ || !model_ || dragState_.isDragging) return;
    const QPointF moved = scenePoint - mouseDownPoint_;
    if (std::trunc(std::sqrt(moved.x() * moved.x() + moved.y() * moved.y())) < 2) return;
    // Moves may come merged: the first one past 2 points can be rows away from the press, over a row the
    // user never pressed.
    // A press outside the selection drags the row pressed, selected now, as list views do.
    const std::vector<int> selected = PatchPoolRules::draggedRows(selectedRowList(), dragTree().rowAtY(mouseDownRowY_));
    if (selected.empty()) return;
    if (selected != selectedRowList()) selectRows(selected);

    dragState_.isDraggingUncontinuousFiles = PatchPoolDragRules::isUncontinuous(selected);
    dragState_.draggedContainers.clear();
    for (const int at : selected) {
        const QModelIndex index = indexForRow(at);
        dragState_.draggedContainers.push_back({model_->parentNodeOf(index), model_->nodeAt(index)});
    }
    dragState_.isDragging = true;
    std::unique_ptr<PatchDragMimeData> data =
        dragDataFactory_ ? dragDataFactory_(this, PatchDragMimeData::kPoolItemsType) : nullptr;
    if (data) {
        if (dragStarter_) {
            dragStarter_(std::move(data));
        } else {
            auto* drag = new QDrag(this);
            drag->setMimeData(data.release());
            drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::CopyAction);
        }
    }
    // However the drag ended (here, on the list, in another program or nowhere), the next one starts clean.
    draggingDidEnd();
}

// ---- the drop target ----

void PatchPoolOutlineView::removeMarker()
{
    if (marker_) marker_->hide();
}

void PatchPoolOutlineView::drawInsertion()
{
    const int row = dragTree().rowForItem(dragState_.focusDraggingItem);
    if (row < 0) {
        removeMarker();
        return;
    }
    const QRect rect = visualRect(indexForRow(row));
    const QRect frame(0, rect.y(), viewport()->width(), rect.height());
    if (!marker_) marker_ = new DropMarkerView(viewport());
    switch (dragState_.draggingPosition) {
    case PatchPoolDragRules::kAbove: marker_->place(DropMarkerView::poolAboveFrame(frame), DropMarkerView::Shape::Frame); break;
    case PatchPoolDragRules::kBelow: marker_->place(DropMarkerView::poolBelowFrame(frame), DropMarkerView::Shape::Frame); break;
    default: marker_->place(frame, DropMarkerView::Shape::On); break;
    }
}

int PatchPoolOutlineView::draggingUpdated(QDragMoveEvent* event)
{
    using Rules = PatchPoolDragRules;
    if (isLockPatchPool_) return Rules::kNone;
    const double y = event->position().y();
    const Rules::Pointer pointer = Rules::itemFromDraggingLocation(dragTree(), y);
    dragState_.isDraggingInEmptySpace = pointer.inEmptySpace;
    const PatchDragMimeData* ours = PatchDragMimeData::ours(event->mimeData(), event->source());

    if (ours && ours->sourceView() == this && dragState_.isDragging) {
        if (dragState_.isDraggingUncontinuousFiles) return Rules::kNone;
        const Rules::Drop drop = Rules::canDropToDirectory(dragTree(), dragState_.draggedContainers, pointer, y);
        if (!drop.accepted) return Rules::kNone;
        dragState_.focusDraggingItem = drop.focus;
        dragState_.draggingPosition = drop.position;
        drawInsertion();
        setFocus(Qt::OtherFocusReason);
        return Rules::kGeneric;
    }
    if (!isGeneric(*event)) return Rules::kNone;
    dragState_.isDraggingToCreateNewGroup = false;
    if (ours && std::string(ours->dragType()) == PatchDragMimeData::kListRowsType) {
        const std::uint64_t rows = numberOfDraggedItems_ ? numberOfDraggedItems_() : 0;
        if (rows == 0) return Rules::kNone;
        dragState_.isDraggingToCreateNewGroup = rows > 1;
    } else if (!ours) {
        const std::vector<std::string> paths = PatchDragMimeData::localFiles(event->mimeData());
        if (!paths.empty()) {
            // The files are read once per entry, not at every move of the pointer.
            const std::int64_t count = droppedFiles_.answer(paths, [this](const std::vector<std::string>& files) {
                const std::string own = dropServices_.applicationFolder ? dropServices_.applicationFolder() : std::string();
                if (DroppedPaths::refusesDrop(files, own)) return std::int64_t{-1};
                // The pool only tells one patch (saved where it lands) from several (a new group): it reads
                // no further than a second patch, however many files come.
                std::int64_t patches = 0;
                for (const std::string& path : files)
                    if (dropServices_.isPatchFile && dropServices_.isPatchFile(path) && ++patches > 1) break;
                return patches;
            });
            if (count <= 0) return Rules::kNone;
            dragState_.isDraggingToCreateNewGroup = count > 1;
        }
    } else {
        // Another view's drag of a kind the pool does not take.
        return Rules::kNone;
    }
    const Rules::Drop marker = Rules::foreignMarker(dragTree(), pointer, dragState_.isDraggingToCreateNewGroup, y);
    dragState_.focusDraggingItem = marker.focus;
    dragState_.draggingPosition = marker.position;
    drawInsertion();
    setFocus(Qt::OtherFocusReason);
    return Rules::foreignAnswer(dragTree(), pointer, marker.position);
}

void PatchPoolOutlineView::dragEnterEvent(QDragEnterEvent* event)
{
    // Nothing tells a drag coming back from a new one of the same files, which may have changed since:
    // each entry reads them anew (a refused drag may never hear its leave).
    droppedFiles_.forget();
    // A drag over the pool scrolls it while held at an edge, wherever it could land.
    if (!isLockPatchPool_) setState(DraggingState);
    dragMoveEvent(event);
}

void PatchPoolOutlineView::dragMoveEvent(QDragMoveEvent* event)
{
    // The platform tree's own handling starts the scrolling at an edge; the answer is the pool's.
    if (!isLockPatchPool_) QTreeView::dragMoveEvent(event);
    heldMove_.remember(*event, *viewport());
    answerDragMove(event);
}

void PatchPoolOutlineView::scrollContentsBy(int dx, int dy)
{
    QTreeView::scrollContentsBy(dx, dy);
    if (state() != DraggingState) return;
    if (const auto move = heldMove_.replay(*viewport())) answerDragMove(move.get());
}

void PatchPoolOutlineView::resizeEvent(QResizeEvent* event)
{
    QTreeView::resizeEvent(event);
    if (state() == DraggingState) resumeHeldDrag();
}

void PatchPoolOutlineView::resumeHeldDrag()
{
    setState(DraggingState);
    // The held move lands on the rows as the reload or the resize laid them out.
    executeDelayedItemsLayout();
    if (const auto move = heldMove_.replay(*viewport())) dragMoveEvent(move.get());
}

void PatchPoolOutlineView::stopDragScrolling()
{
    stopAutoScroll();
    if (state() == DraggingState) setState(NoState);
    heldMove_.forget();
}

void PatchPoolOutlineView::answerDragMove(QDragMoveEvent* event)
{
    if (event->type() == QEvent::DragMove && event->possibleActions() == Qt::IgnoreAction) {
        event->ignore();
        return;
    }
    const int operation = draggingUpdated(event);
    if (operation == PatchPoolDragRules::kNone) {
        removeMarker();
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void PatchPoolOutlineView::dragLeaveEvent(QDragLeaveEvent* event)
{
    event->accept();
    droppedFiles_.forget();
    stopDragScrolling();
    if (isLockPatchPool_) return;
    dragState_.isDraggingToCreateNewGroup = false;
    removeMarker();
}

void PatchPoolOutlineView::dropEvent(QDropEvent* event)
{
    using Rules = PatchPoolDragRules;
    if (isLockPatchPool_) {
        event->ignore();
        return;
    }
    bool accepted = true;
    const PatchDragMimeData* ours = PatchDragMimeData::ours(event->mimeData(), event->source());
    const double y = event->position().y();
    PoolDragState& state = dragState_;
    if (event->possibleActions() == Qt::IgnoreAction) {
        // Nothing proposed: nothing to do.
    } else if (ours && ours->sourceView() == this && state.isDragging) {
        if (!state.focusDraggingItem || state.isDraggingInEmptySpace)
            state.focusDraggingItem = Rules::itemFromDraggingLocation(dragTree(), y).item;
        if (!state.draggedContainers.empty() && backUpDelegate_)
            backUpDelegate_->changePositionWithItems(state.draggedContainers, state.focusDraggingItem,
                                                     state.draggingPosition);
    } else if (ours && std::string(ours->dragType()) == PatchDragMimeData::kListRowsType) {
        const std::vector<std::int64_t> rows =
            ours->namesOfPromisedFilesDroppedAtDestination(PatchManagerViewController::kRightPanel);
        if (rows.empty()) {
            accepted = false;
        } else {
            // The delegate reloads the pool with what the drop made selected.
            if (backUpDelegate_)
                Rules::send(*backUpDelegate_,
                            Rules::callForRows(dragTree(), state.focusDraggingItem, state.draggingPosition,
                                               state.isDraggingToCreateNewGroup),
                            rows, {});
        }
    } else if (!ours) {
        const std::vector<std::string> paths = PatchDragMimeData::localFiles(event->mimeData());
        const std::string own = dropServices_.applicationFolder ? dropServices_.applicationFolder() : std::string();
        if (DroppedPaths::refusesDrop(paths, own)) accepted = false;
        if (accepted && !paths.empty()) {
            if (!dropServices_.readFilePatchesLater) {
                accepted = false;
            } else {
                // The files are read (and then copied) off the main thread; the place is the one the drop
                // pointed at, in the tree as it stands when they have been read. The delegate reloads the
                // pool with what the drop made selected.
                dropServices_.readFilePatchesLater(
                    paths, [self = QPointer<PatchPoolOutlineView>(this), focus = state.focusDraggingItem,
                            position = state.draggingPosition](std::vector<std::shared_ptr<PatchItem>> items) {
                        if (!self || items.empty() || !self->backUpDelegate_) return;
                        Rules::send(*self->backUpDelegate_,
                                    Rules::callForFiles(self->dragTree(), focus, position, items.size()), {}, items);
                    });
            }
        }
    } else {
        accepted = false;
    }
    // The drop is the end of the drag over the pool.
    droppedFiles_.forget();
    removeMarker();
    stopDragScrolling();
    state.isDraggingToCreateNewGroup = false;
    if (!(ours && ours->sourceView() == this)) state.focusDraggingItem.reset();
    if (accepted) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}
