#include "DragTour.h"

#include <QApplication>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <memory>

#include "DemoPool.h"
#include "WindowShot.h"
#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/DropMarkerView.h"
#include "app/patch/PatchDragMimeData.h"
#include "app/patch/PatchManagerViewController.h"
#include "app/patch/PatchPoolDataSource.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"

namespace {

// The drag held over a view between two steps.
std::unique_ptr<PatchDragMimeData> held;
std::size_t topLevelBefore = 0;

QWidget* window() { return WindowShot::findWindow(QApplication::applicationName()); }
CustomTableViewForPatch* listIn(QWidget* w) { return w ? w->findChild<CustomTableViewForPatch*>() : nullptr; }
PatchPoolOutlineView* poolIn(QWidget* w) { return w ? w->findChild<PatchPoolOutlineView*>() : nullptr; }
PatchManagerViewController* screenOf(PatchPoolOutlineView* pool)
{
    return pool ? dynamic_cast<PatchManagerViewController*>(pool->backUpDelegate()) : nullptr;
}

std::shared_ptr<DirectoryObject> topLevel(PatchPoolOutlineView* view, const std::string& name)
{
    if (!view || !view->poolModel()) return nullptr;
    PatchPoolDataSource& source = view->poolModel()->dataSource();
    for (std::int64_t i = 0; i < source.numberOfChildrenOfItem(nullptr); ++i)
        if (auto item = source.childOfItem(i, nullptr); item && item->name == name) return item;
    return nullptr;
}

std::unique_ptr<PatchDragMimeData> dragData(PatchManagerViewController* screen, QWidget* source, const char* type)
{
    return screen ? screen->makeDragData(source, type) : nullptr;
}

void over(QWidget* target, QPoint at, const QMimeData* data)
{
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
}

void dropAt(QWidget* target, QPoint at, const QMimeData* data)
{
    QDropEvent event(QPointF(at), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

void leave(QWidget* target)
{
    QDragLeaveEvent event;
    QApplication::sendEvent(target, &event);
}

// Ends whatever drag is held: left where it was, the views' drag state cleared.
void releaseHeld(CustomTableViewForPatch* list, PatchPoolOutlineView* pool)
{
    if (!held) return;
    leave(list->viewport());
    leave(pool->viewport());
    list->dragState() = {};
    pool->draggingDidEnd();
    held.reset();
}

void beginListDrag(CustomTableViewForPatch* list, PatchPoolOutlineView* pool, const std::vector<std::uint64_t>& rows)
{
    list->setUpCurrentSelectionWithIndexSet(rows, false);
    list->dragState().draggedIndexSet = rows;
    list->dragState().isDraggingFromTable = true;
    held = dragData(screenOf(pool), list, PatchDragMimeData::kListRowsType);
}

QPoint listRow(CustomTableViewForPatch* list, int row) { return QPoint(120, list->rowViewportPosition(row) + 12); }

}  // namespace

void DragTour::holdReorderOverList(QWidget& w)
{
    CustomTableViewForPatch* list = listIn(&w);
    PatchPoolOutlineView* pool = poolIn(&w);
    if (!list || !pool || listMarkerShown()) return;
    releaseHeld(list, pool);
    list->scrollToTop();
    beginListDrag(list, pool, {2, 3});
    over(list->viewport(), listRow(list, 6), held.get());
}

bool DragTour::listMarkerShown()
{
    CustomTableViewForPatch* list = listIn(window());
    return list && list->dropMarker() != nullptr;
}

void DragTour::holdRowsOverPoolGroup(QWidget& w)
{
    CustomTableViewForPatch* list = listIn(&w);
    PatchPoolOutlineView* pool = poolIn(&w);
    const auto group = topLevel(pool, DemoPool::kGroupName);
    if (!list || !pool || !group || poolMarkerShown()) return;
    releaseHeld(list, pool);
    beginListDrag(list, pool, {4});
    const QModelIndex index = pool->poolModel()->indexOf(group.get());
    pool->scrollTo(index);
    // The group row's middle: the drop would go onto the group.
    over(pool->viewport(), pool->visualRect(index).center(), held.get());
}

bool DragTour::poolMarkerShown()
{
    PatchPoolOutlineView* pool = poolIn(window());
    return pool && pool->dropMarker() != nullptr;
}

void DragTour::dropRowsAsNewGroup(QWidget& w)
{
    CustomTableViewForPatch* list = listIn(&w);
    PatchPoolOutlineView* pool = poolIn(&w);
    PatchManagerViewController* screen = screenOf(pool);
    if (!list || !pool || !screen || rowsDroppedAsGroup()) return;
    releaseHeld(list, pool);
    topLevelBefore = screen->structureData().size();
    beginListDrag(list, pool, {5, 6, 7});
    // Below the last row: after the last top-level item.
    const QPoint below(pool->viewport()->width() / 2, pool->viewport()->height() - 3);
    over(pool->viewport(), below, held.get());
    dropAt(pool->viewport(), below, held.get());
    list->dragState() = {};
    held.reset();
    if (screen->structureData().size() > topLevelBefore)
        pool->expandItem(pool->poolModel()->indexOf(screen->structureData().back().get()));
    pool->scrollToBottom();
}

bool DragTour::rowsDroppedAsGroup()
{
    PatchManagerViewController* screen = screenOf(poolIn(window()));
    return screen && topLevelBefore > 0 && screen->structureData().size() == topLevelBefore + 1 &&
           screen->structureData().back()->isGroup && screen->structureData().back()->childDirectories.size() == 3;
}

void DragTour::dropBackupOnList(QWidget& w)
{
    PatchPoolOutlineView* pool = poolIn(&w);
    const auto backup = topLevel(pool, DemoPool::kBackupName);
    if (!backup || backup->childDirectories.empty() || backupRestored()) return;
    dropPoolItemsOnList(w, {DemoPool::kBackupName}, 3);
    if (CustomTableViewForPatch* list = listIn(&w)) list->scrollToTop();
}

void DragTour::dropListRowsOnList(QWidget& w, const std::vector<std::uint64_t>& rows, int atRow, bool lookedAtOnTheWay)
{
    CustomTableViewForPatch* list = listIn(&w);
    PatchPoolOutlineView* pool = poolIn(&w);
    if (!list || !pool) return;
    releaseHeld(list, pool);
    list->scrollToTop();
    beginListDrag(list, pool, rows);
    if (lookedAtOnTheWay && held) held->urls();
    over(list->viewport(), listRow(list, atRow), held.get());
    dropAt(list->viewport(), listRow(list, atRow), held.get());
    list->dragState() = {};
    held.reset();
}

namespace {

// The pool's top-level items of those names, as its drag carries them; none unless every one is there.
PoolSelectionEntries poolItems(PatchPoolOutlineView* pool, const std::vector<std::string>& names)
{
    PoolSelectionEntries items;
    for (const std::string& name : names)
        if (auto item = topLevel(pool, name)) items.push_back({nullptr, item});
    if (items.size() != names.size()) items.clear();
    return items;
}

QMimeData* filesFromOutside(const std::vector<std::string>& paths)
{
    QList<QUrl> urls;
    for (const std::string& path : paths) urls.push_back(QUrl::fromLocalFile(QString::fromStdString(path)));
    auto* data = new QMimeData;
    data->setUrls(urls);
    return data;
}

}  // namespace

void DragTour::dropPoolItemsOnList(QWidget& w, const std::vector<std::string>& names, int atRow, bool lookedAtOnTheWay)
{
    CustomTableViewForPatch* list = listIn(&w);
    PatchPoolOutlineView* pool = poolIn(&w);
    if (!list || !pool) return;
    PoolSelectionEntries items = poolItems(pool, names);
    if (items.empty()) return;
    releaseHeld(list, pool);
    list->scrollToTop();
    pool->dragState().isDragging = true;
    pool->dragState().draggedContainers = items;
    held = dragData(screenOf(pool), pool, PatchDragMimeData::kPoolItemsType);
    if (lookedAtOnTheWay && held) held->urls();
    over(list->viewport(), listRow(list, atRow), held.get());
    dropAt(list->viewport(), listRow(list, atRow), held.get());
    pool->draggingDidEnd();
    held.reset();
}

std::vector<std::string> DragTour::dragPoolItemsOut(QWidget& w, const std::vector<std::string>& names)
{
    CustomTableViewForPatch* list = listIn(&w);
    PatchPoolOutlineView* pool = poolIn(&w);
    if (!list || !pool) return {};
    PoolSelectionEntries items = poolItems(pool, names);
    if (items.empty()) return {};
    releaseHeld(list, pool);
    pool->dragState().isDragging = true;
    pool->dragState().draggedContainers = items;
    const auto data = dragData(screenOf(pool), pool, PatchDragMimeData::kPoolItemsType);
    // The other program asks for the files as it takes the drop.
    std::vector<std::string> files;
    for (const QUrl& url : data->urls()) files.push_back(url.toLocalFile().toStdString());
    pool->draggingDidEnd();
    return files;
}

void DragTour::dropFilesOnList(QWidget& w, const std::vector<std::string>& paths, int atRow)
{
    CustomTableViewForPatch* list = listIn(&w);
    if (!list) return;
    list->scrollToTop();
    const std::unique_ptr<QMimeData> data(filesFromOutside(paths));
    over(list->viewport(), listRow(list, atRow), data.get());
    dropAt(list->viewport(), listRow(list, atRow), data.get());
}

void DragTour::dropFilesOnPool(QWidget& w, const std::vector<std::string>& paths)
{
    PatchPoolOutlineView* pool = poolIn(&w);
    if (!pool) return;
    const std::unique_ptr<QMimeData> data(filesFromOutside(paths));
    const QPoint below(pool->viewport()->width() / 2, pool->viewport()->height() - 3);
    over(pool->viewport(), below, data.get());
    dropAt(pool->viewport(), below, data.get());
}

void DragTour::dropFilesOnPoolItem(QWidget& w, const std::vector<std::string>& paths, const std::string& name)
{
    PatchPoolOutlineView* pool = poolIn(&w);
    const auto item = pool ? topLevel(pool, name) : nullptr;
    if (!item) return;
    const QModelIndex index = pool->poolModel()->indexOf(item.get());
    pool->scrollTo(index);
    const std::unique_ptr<QMimeData> data(filesFromOutside(paths));
    const QPoint middle = pool->visualRect(index).center();
    over(pool->viewport(), middle, data.get());
    dropAt(pool->viewport(), middle, data.get());
}

bool DragTour::backupRestored()
{
    PatchPoolOutlineView* pool = poolIn(window());
    CustomTableViewForPatch* list = listIn(window());
    const auto backup = topLevel(pool, DemoPool::kBackupName);
    if (!list || !backup) return false;
    // The compatible children fill the list from its first slot.
    int slot = 0;
    for (const auto& child : backup->childDirectories) {
        const auto* patch = child->patchItem();
        if (!patch || child->isIncompatible) continue;
        if (list->model()->index(slot++, 1).data().toString().toStdString() != patch->patchName) return false;
    }
    return slot > 1;
}

QPoint DragTour::holdListRowsAtTheListsBottom(QWidget& w, const std::vector<std::uint64_t>& rows)
{
    CustomTableViewForPatch* list = listIn(&w);
    PatchPoolOutlineView* pool = poolIn(&w);
    if (!list || !pool) return {};
    releaseHeld(list, pool);
    list->scrollToTop();
    beginListDrag(list, pool, rows);
    const QPoint edge(120, list->viewport()->height() - 4);
    // The view scrolls toward the pointer, which the platform tells where it is.
    QCursor::setPos(list->viewport()->mapToGlobal(edge));
    over(list->viewport(), edge, held.get());
    return edge;
}

void DragTour::letGoOfTheHeldDrag(QWidget& w)
{
    CustomTableViewForPatch* list = listIn(&w);
    PatchPoolOutlineView* pool = poolIn(&w);
    if (list && pool) releaseHeld(list, pool);
}

QPoint DragTour::holdListRowsAtThePoolsBottom(QWidget& w, const std::vector<std::uint64_t>& rows)
{
    CustomTableViewForPatch* list = listIn(&w);
    PatchPoolOutlineView* pool = poolIn(&w);
    if (!list || !pool) return {};
    releaseHeld(list, pool);
    pool->scrollToTop();
    beginListDrag(list, pool, rows);
    const QPoint edge(120, pool->viewport()->height() - 4);
    QCursor::setPos(pool->viewport()->mapToGlobal(edge));
    over(pool->viewport(), edge, held.get());
    return edge;
}
