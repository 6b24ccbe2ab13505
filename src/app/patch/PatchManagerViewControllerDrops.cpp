// The patch screen's side of drag and drop: the drop dispatcher that every promised drag of the two
// views ends in, the list's drop validation, the replacement of list slots by dropped patches, the
// counts the views ask of each other and the staging folder of drags into other programs.

#include <QDateTime>
#include <QDir>
#include <QLocale>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/controls/TableRowChecks.h"
#include "app/patch/CustomTableViewForPatch.h"
#include "app/patch/PatchCoordinator.h"
#include "app/patch/PatchDialogs.h"
#include "app/patch/PatchDragMimeData.h"
#include "app/patch/PatchListTableModel.h"
#include "app/patch/PatchManagerViewController.h"
#include "app/patch/PatchPoolDragRules.h"
#include "app/patch/PatchPoolEditor.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "library/undo/AddToPatchPoolAction.h"
#include "library/undo/DragFromPoolToListAction.h"
#include "library/undo/UndoController.h"

namespace {

std::string joinPath(const std::string& folder, const std::string& name)
{
    return (std::filesystem::path(folder) / name).string();
}

// Exactly a patch of the pool, and one the connected device takes.
std::shared_ptr<PatchItem> compatiblePatchOf(const DirectoryObject& node)
{
    const auto* patch = std::get_if<std::shared_ptr<PatchItem>>(&node.object);
    if (!patch || !*patch || node.isGroup || node.isIncompatible) return nullptr;
    return *patch;
}

}  // namespace

void PatchManagerViewController::initDraggingRegister()
{
    if (!patchManagerTableView_ || !rightPanelOutlineView_) return;
    QPointer<PatchManagerViewController> self(this);
    const auto factory = [self](QWidget* source, const char* type) -> std::unique_ptr<PatchDragMimeData> {
        return self ? self->makeDragData(source, type) : nullptr;
    };
    PatchDropServices services;
    services.applicationFolder = [self] { return self ? self->coordinator_.applicationFolder() : std::string(); };
    services.isPatchFile = [self](const std::string& path) {
        return self && self->coordinator_.checkFilePatchWithfilePath(path);
    };
    services.isIncompatibleFile = [self](const std::string& path) {
        return self && self->coordinator_.isPatchFileIncompatibleWithPath(path);
    };
    services.readFilePatch = [self](const std::string& path) {
        return self ? self->coordinator_.readFilePatchWithPath(path) : nullptr;
    };
    services.readFilePatchesLater = [self](const std::vector<std::string>& paths, PatchDropServices::ReadPatches done) {
        if (!self) return;
        self->beginPoolWork();
        // The drop is the user's gesture now, whenever its files are read: an undo that comes before they
        // are takes the drop back, not what was done before it.
        auto pending = self->patchPoolEditor_->pushPendingAddition();
        self->coordinator_.readFilePatchesLater(paths, [self, pending, done = std::move(done)](PatchItems items) mutable {
            if (!self) return;
            self->patchPoolEditor_->addAsPending(pending, [&] { done(std::move(items)); });
            self->endPoolWork();
        });
    };
    services.workingCopy = [self](const std::string& path) -> std::shared_ptr<PatchItem> {
        if (!self) return nullptr;
        return self->coordinator_.writeFilePatchWithInfo(
            path, joinPath(self->coordinator_.applicationFolder(), "Temp/Device/Patch"), {false, false, -1});
    };
    services.numberOfDeviceSlots = [self]() -> std::int64_t {
        return self ? static_cast<std::int64_t>(self->patchItems_.size()) : 0;
    };
    services.validateDrop = [self](std::int64_t proposedRow, bool above) {
        return self ? self->validateDrop(proposedRow, above) : 0;
    };
    services.showAlert = [self](const std::string& title, const std::string& message) {
        if (self) self->dialogs_.showText(title + "\n" + message);
    };
    rightPanelOutlineView_->dropServices() = services;
    services.replaceItemByDraggingBlock = [self](const PatchItems& items, std::int64_t row) {
        if (self) self->replaceItemByDragging(items, row);
    };
    patchManagerTableView_->dropHandlers() = services;
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(patchManagerTableView_),
                                    static_cast<QAbstractItemView*>(rightPanelOutlineView_)}) {
        view->setAcceptDrops(true);
        view->viewport()->setAcceptDrops(true);
        view->setDropIndicatorShown(false);
    }
    patchManagerTableView_->setDragDataFactory(factory);
    rightPanelOutlineView_->setDragDataFactory(factory);
}

void PatchManagerViewController::initDraggingOperator()
{
    if (!patchManagerTableView_) return;
    QPointer<PatchManagerViewController> self(this);
    patchManagerTableView_->dropHandlers().numberOfDraggedItems = [self]() -> std::int64_t {
        return self ? self->numberOfDraggedItems() : 0;
    };
}

std::int64_t PatchManagerViewController::numberOfDraggedItems() const
{
    if (!rightPanelOutlineView_) return 0;
    return rightPanelOutlineView_->getNumberOfDraggedItems(
        [this](const DirectoryObject& group) { return coordinator_.checkBackupGroupTheSeemModel(group); });
}

int PatchManagerViewController::validateDrop(std::int64_t proposedRow, bool aboveOperation)
{
    if (!patchManagerTableView_) return PatchPoolDragRules::kGeneric;
    auto& state = patchManagerTableView_->dragState();
    state.isDraggingToLastLine = false;
    state.row = proposedRow;
    if (aboveOperation && TableRowChecks::checkEmptyRow(static_cast<int>(proposedRow), patchManagerTableView_))
        state.isDraggingToLastLine = true;
    return PatchPoolDragRules::kGeneric;
}

std::string PatchManagerViewController::newPatchGroupFolderName() const
{
    const auto now = dropClock_ ? dropClock_() : std::chrono::system_clock::now();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
    const QDateTime local = QDateTime::fromSecsSinceEpoch(seconds);
    return QString::fromLatin1(kNewPatchGroupFormat)
        .arg(QLocale::c().toString(local, QStringLiteral("yyyyMMdd HH-mm-ss")))
        .toStdString();
}

PatchManagerViewController::DraggedContent PatchManagerViewController::draggedContent(bool fromPool) const
{
    DraggedContent content;
    content.fromPool = fromPool;
    if (fromPool) {
        if (rightPanelOutlineView_)
            for (const PoolSelectionEntry& entry : rightPanelOutlineView_->dragState().draggedContainers)
                if (entry.childItem) content.items.push_back(entry.childItem);
    } else if (patchManagerTableView_) {
        content.rows = patchManagerTableView_->dragState().draggedIndexSet;
        std::sort(content.rows.begin(), content.rows.end());
    }
    return content;
}

std::unique_ptr<PatchDragMimeData> PatchManagerViewController::makeDragData(QWidget* source, const char* type)
{
    QPointer<PatchManagerViewController> self(this);
    return std::make_unique<PatchDragMimeData>(
        type, source,
        [self, drag = draggedContent(std::string(type) == PatchDragMimeData::kPoolItemsType)](const std::string& destination) {
            return self ? self->namesOfPromisedFilesDroppedAtDestination(destination, drag) : std::vector<std::int64_t>{};
        },
        [self] { return self ? self->makeDragStagingFolder() : std::string(); });
}

std::vector<std::int64_t> PatchManagerViewController::namesOfPromisedFilesDroppedAtDestination(const std::string& destination,
                                                                                               const DraggedContent& drag)
{
    if (!patchManagerTableView_ || !rightPanelOutlineView_) return {};
    // The views' drag state is theirs until the drag ends, whoever asks for the files meanwhile.
    const bool ownFolder = dragStagingFolders_.count(destination) > 0;
    if (!drag.fromPool) {
        takeUnitChanges();
        const std::vector<std::int64_t> rows(drag.rows.begin(), drag.rows.end());
        if (destination == kRightPanel) return rows;
        if (!ownFolder) return {};

        const bool several = rows.size() > 1;
        const std::string folder = several ? joinPath(destination, newPatchGroupFolderName()) : destination;
        std::int64_t counter = 0;
        for (const std::int64_t row : rows) {
            const std::int64_t index = counter++;
            if (static_cast<std::size_t>(row) >= patchItems_.size() || !patchItems_[static_cast<std::size_t>(row)])
                continue;
            coordinator_.writeFilePatchWithInfo(patchItems_[static_cast<std::size_t>(row)]->path, folder,
                                                {false, true, several ? index : -1});
        }
        return {};
    }

    if (destination == kPatchListPanel) dropPoolItemsOnList(drag.items);
    else if (ownFolder) writeDraggedFilesToFolder(drag.items, destination);
    return {};
}

void PatchManagerViewController::writeDraggedFilesToFolder(const Nodes& items, const std::string& destination)
{
    Nodes groups;
    PatchItems patches;
    for (const Node& item : items) {
        if (item->isGroup) groups.push_back(item);
        else if (const auto* patch = std::get_if<std::shared_ptr<PatchItem>>(&item->object); patch && *patch)
            patches.push_back(*patch);
    }
    const std::string folder =
        patches.size() + groups.size() > 1 ? joinPath(destination, newPatchGroupFolderName()) : destination;
    for (std::size_t i = 0; i < patches.size(); ++i)
        coordinator_.writeFilePatchWithInfo(patches[i]->path, folder,
                                            {false, true, patches.size() > 1 ? static_cast<std::int64_t>(i) : -1});
    for (const Node& group : groups) coordinator_.copyGroup(*group, folder);
}

void PatchManagerViewController::dropPoolItemsOnList(const Nodes& items)
{
    PatchItems gathered;
    for (const Node& item : items) {
        if (item->isBackUpAllGroup && coordinator_.checkBackupGroupTheSeemModel(*item)) {
            // Nothing else of the drop is written: the whole list is restored.
            restorePatchItemWithBackupAllGroup(item);
            return;
        }
        if (item->isGroup) {
            for (const Node& child : item->childDirectories)
                if (child)
                    if (auto patch = compatiblePatchOf(*child)) gathered.push_back(std::move(patch));
        } else if (auto patch = compatiblePatchOf(*item)) {
            gathered.push_back(std::move(patch));
        }
    }
    if (gathered.empty()) return;

    auto& list = patchManagerTableView_->dragState();
    if (list.row < 0) return;
    const auto start = static_cast<std::size_t>(list.row);
    const std::string workingFolder = joinPath(coordinator_.applicationFolder(), "Device/Patch");
    std::vector<UndoAction::Object> oldPatches;
    std::size_t replaced = 0;
    // Only slots of the device list take patches, and a patch whose working copy fails ends the placing,
    // so the slots written and the ones recorded stay one run.
    for (; replaced < gathered.size() && start + replaced < patchItems_.size(); ++replaced) {
        auto copy = gathered[replaced]->copy();
        const auto written = coordinator_.writeFilePatchWithInfo(gathered[replaced]->path, workingFolder, {false, false, -1});
        if (!written) break;
        copy->path = written->path;
        oldPatches.push_back(patchItems_[start + replaced]);
        patchItems_[start + replaced] = std::move(copy);
    }
    if (replaced == 0) return;
    patchManagerTableView_->setIsDropped(true);

    std::vector<std::uint64_t> rows;
    for (std::size_t i = 0; i < replaced; ++i) rows.push_back(start + i);
    patchManagerTableView_->setUpCurrentSelectionWithIndexSet(rows, false);
    updatePatchFileToDevideAtRange(start, replaced);
    undoController_.addActionStack(std::make_shared<DragFromPoolToListAction>(std::move(oldPatches), start));
    // Only the replaced rows are drawn again.
    for (std::size_t i = 0; i < replaced; ++i) patchListModel_->rowChanged(static_cast<int>(start + i));
}

void PatchManagerViewController::replaceItemByDragging(const PatchItems& items, std::int64_t row)
{
    if (row < 0 || static_cast<std::size_t>(row) >= patchItems_.size()) return;
    const auto start = static_cast<std::size_t>(row);
    const std::size_t count = std::min(items.size(), patchItems_.size() - start);
    if (count == 0) return;
    const PatchItems placed(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(count));
    std::vector<UndoAction::Object> oldPatches;
    for (std::size_t i = 0; i < count; ++i) oldPatches.push_back(patchItems_[start + i]);
    coordinator_.updatePatchWarningInPatchList(placed);
    undoController_.addActionStack(std::make_shared<DragFromPoolToListAction>(std::move(oldPatches), start));
    for (std::size_t i = 0; i < count; ++i) patchItems_[start + i] = placed[i];
    reloadDataInPatchList();
    std::vector<std::uint64_t> rows;
    for (std::size_t i = 0; i < count; ++i) rows.push_back(start + i);
    if (patchManagerTableView_) patchManagerTableView_->setUpCurrentSelectionWithIndexSet(rows, false);
    updatePatchFileToDevideAtRange(start, count);
}

std::string PatchManagerViewController::makeDragStagingFolder()
{
    std::error_code error;
    dragStagingFolder_.clear();
    const std::string temp = joinPath(coordinator_.applicationFolder(), "Temp");
    const std::string folder =
        joinPath(temp, "Drag-" + std::to_string(QDateTime::currentMSecsSinceEpoch()) + "-" + std::to_string(++dragStagingSerial_));
    if (!std::filesystem::create_directories(folder, error) || error) return {};
    dragStagingFolder_ = folder;
    dragStagingFolders_.insert(folder);
    return folder;
}

