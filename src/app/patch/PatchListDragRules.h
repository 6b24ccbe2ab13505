#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class PatchItem;

// The device list's drag-and-drop decisions without a widget: the proposed row, the rows a foreign drop
// fills, the answers while a drag moves over the list, and the walk of dropped files. Operations are 4
// (accepted) and 0 (refused).
class PatchListDragRules {
public:
    static constexpr int kGeneric = 4;
    static constexpr int kNone = 0;

    // The row a drop lands above: r in the upper half of row r, r + 1 in its lower half, the row count
    // below the last row. `rowAt` answers -1 outside the rows; `rowTop` and `rowHeight` describe row r.
    static std::int64_t proposedRow(double y, int rowCount, int rowAtY, double rowTop, double rowHeight);

    // The rows shown selected while a drag from outside is over the list: from `start` for `count` rows,
    // stopping at the first empty row.
    static std::vector<std::uint64_t> rowsWhenDragging(std::int64_t start, std::int64_t count, int rowCount,
                                                       const std::function<bool(int row)>& isEmptyRow);

    // How many dropped files would be taken into `room` slots: the files are read in order only until
    // the room is filled, so a drag of thousands of files reads no more than the list can take. None
    // when the drag is refused as a whole: every path is judged by the checks of `DroppedPaths`, however
    // far past the room it lies (a file of the program's own folder, a path holding a line break).
    static std::optional<std::int64_t> countDroppableFiles(
        const std::vector<std::string>& paths, const std::string& ownFolder,
        const std::function<bool(const std::string&)>& accepts,
        std::int64_t room = std::numeric_limits<std::int64_t>::max());

    // What a drag from outside (files, or the pool's own drag) is answered on entry and at each move.
    struct Foreign {
        bool locked = false;
        // The proposed actions include copy.
        bool generic = false;
        // -1 outside the rows.
        int rowUnderPointer = -1;
        bool rowIsEmpty = true;
        // Files that would be taken; none when the drag is refused as a whole.
        std::optional<std::int64_t> fileCount = 0;
        bool fromPool = false;
        std::function<std::int64_t()> poolCount;
        bool restoringAll = false;
        int rowCount = 0;
    };
    struct Answer {
        int operation = kNone;
        std::int64_t row = -1;
        std::int64_t numberOfSentItems = 0;
        bool isDroppingBackupAllGroup = false;
        // Whether the selection is placed again from `row` for `numberOfSentItems` rows.
        bool placeSelection = false;
    };
    static Answer foreignEntered(const Foreign& drag);
    // A move: a count of 0 is refused here; a backup-all group keeps the selection placed on entry.
    static Answer foreignUpdated(const Foreign& drag, std::int64_t numberOfSentItems, bool isDroppingBackupAllGroup);

    // A reorder's answer: a drag of rows with a gap never drops on its own list.
    static int reorderAnswer(bool locked, bool uncontinuous) { return locked || uncontinuous ? kNone : kGeneric; }
    // The row the reorder marker is drawn on: the validated row, or the last row when it lies outside.
    static int reorderMarkerRow(std::int64_t row, int rowCount);
    // The row handed to the reorder: after the last line when the drop is above a filler row.
    static std::int64_t reorderTarget(std::int64_t row, bool isDraggingToLastLine)
    {
        return isDraggingToLastLine ? row + 1 : row;
    }
    static bool isUncontinuous(const std::vector<std::uint64_t>& ascendingRows);

    // The dropped files walked in order: each accepted path while a slot of the device list is left from
    // `row` on gets its working copy; a failed copy is skipped. Room is tested before the copy is made.
    static std::vector<std::shared_ptr<PatchItem>> takeDroppedFiles(
        const std::vector<std::string>& paths, std::int64_t row, std::int64_t deviceSlots,
        const std::function<bool(const std::string&)>& accepts,
        const std::function<std::shared_ptr<PatchItem>(const std::string&)>& workingCopy);
};
