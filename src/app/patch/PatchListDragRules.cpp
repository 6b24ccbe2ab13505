#include "app/patch/PatchListDragRules.h"

#include <algorithm>

#include "app/patch/DroppedPaths.h"
#include "library/models/PatchItem.h"

std::int64_t PatchListDragRules::proposedRow(double y, int rowCount, int rowAtY, double rowTop, double rowHeight)
{
    if (rowAtY < 0) return y < 0 ? 0 : rowCount;
    return y < rowTop + rowHeight / 2 ? rowAtY : rowAtY + 1;
}

std::vector<std::uint64_t> PatchListDragRules::rowsWhenDragging(std::int64_t start, std::int64_t count, int rowCount,
                                                                const std::function<bool(int)>& isEmptyRow)
{
    std::vector<std::uint64_t> rows;
    if (start < 0) return rows;
    count = std::min<std::int64_t>(count, rowCount - start);
    for (std::int64_t i = 0; i < count; ++i) {
        const int row = static_cast<int>(start + i);
        if (isEmptyRow(row)) break;
        rows.push_back(static_cast<std::uint64_t>(row));
    }
    return rows;
}

std::optional<std::int64_t> PatchListDragRules::countDroppableFiles(const std::vector<std::string>& paths,
                                                                    const std::string& ownFolder,
                                                                    const std::function<bool(const std::string&)>& accepts,
                                                                    std::int64_t room)
{
    // Every path is judged, not only those the room reaches: a file of the program's own folder anywhere
    // in the drop refuses it whole. The judgement costs a resolution per folder, the reads a file each.
    if (DroppedPaths::refusesDrop(paths, ownFolder)) return std::nullopt;
    std::int64_t count = 0;
    for (const std::string& path : paths) {
        if (count >= room) break;
        if (accepts(path)) ++count;
    }
    return count;
}

PatchListDragRules::Answer PatchListDragRules::foreignEntered(const Foreign& drag)
{
    Answer answer;
    if (drag.locked || !drag.generic) return answer;
    answer.row = drag.rowUnderPointer;
    if (drag.rowUnderPointer < 0 || drag.rowIsEmpty || !drag.fileCount) return answer;
    std::int64_t count = *drag.fileCount;
    if (count == 0 && drag.fromPool && drag.poolCount) {
        count = drag.poolCount();
        if (count == -1) {
            answer.row = 0;
            count = drag.rowCount;
            answer.isDroppingBackupAllGroup = true;
            if (drag.restoringAll) return answer;
        }
    }
    answer.numberOfSentItems = count;
    answer.placeSelection = true;
    answer.operation = kGeneric;
    return answer;
}

PatchListDragRules::Answer PatchListDragRules::foreignUpdated(const Foreign& drag, std::int64_t numberOfSentItems,
                                                              bool isDroppingBackupAllGroup)
{
    Answer answer;
    answer.numberOfSentItems = numberOfSentItems;
    answer.isDroppingBackupAllGroup = isDroppingBackupAllGroup;
    if (drag.locked || !drag.generic || numberOfSentItems == 0) return answer;
    answer.row = drag.rowUnderPointer;
    if (drag.rowUnderPointer < 0 || drag.rowIsEmpty) return answer;
    if (isDroppingBackupAllGroup) {
        if (drag.restoringAll) return answer;
        answer.row = 0;
    } else {
        answer.placeSelection = true;
    }
    answer.operation = kGeneric;
    return answer;
}

int PatchListDragRules::reorderMarkerRow(std::int64_t row, int rowCount)
{
    if (row < 0 || row >= rowCount) return rowCount - 1;
    return static_cast<int>(row);
}

bool PatchListDragRules::isUncontinuous(const std::vector<std::uint64_t>& ascendingRows)
{
    for (std::size_t i = 1; i < ascendingRows.size(); ++i)
        if (ascendingRows[i] - ascendingRows[i - 1] > 1) return true;
    return false;
}

std::vector<std::shared_ptr<PatchItem>> PatchListDragRules::takeDroppedFiles(
    const std::vector<std::string>& paths, std::int64_t row, std::int64_t deviceSlots,
    const std::function<bool(const std::string&)>& accepts,
    const std::function<std::shared_ptr<PatchItem>(const std::string&)>& workingCopy)
{
    std::vector<std::shared_ptr<PatchItem>> items;
    if (row < 0) return items;
    for (const std::string& path : paths) {
        if (row + static_cast<std::int64_t>(items.size()) >= deviceSlots) break;
        if (!accepts(path)) continue;
        if (auto item = workingCopy(path)) items.push_back(std::move(item));
    }
    return items;
}
