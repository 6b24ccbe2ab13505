#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/patch/PoolSelectionEntry.h"

class BackupPatch;
class DirectoryObject;
class PatchItem;

// The pool's drag-and-drop decisions over a small view of its rows, so the tests drive them without a
// widget: which item the pointer is over, above, on or below it, whether the pool's own items may land
// there, what a foreign drag is answered, how many patches a pool drag carries and which message a drop
// becomes. Positions are 0 above, 1 on and 2 below; operations are 4 (accepted) and 0 (refused).
class PatchPoolDragRules {
public:
    using Node = std::shared_ptr<DirectoryObject>;

    static constexpr std::int64_t kAbove = 0;
    static constexpr std::int64_t kOn = 1;
    static constexpr std::int64_t kBelow = 2;
    static constexpr int kGeneric = 4;
    static constexpr int kNone = 0;

    // The pool's rows as shown, top to bottom, in the view's coordinates (y grows downwards).
    class Tree {
    public:
        struct Rect {
            double y = 0;
            double height = 0;
        };
        virtual ~Tree() = default;
        virtual int numberOfRows() const = 0;
        virtual Node itemAtRow(int row) const = 0;
        // -1 for an item without a row (or none).
        virtual int rowForItem(const Node& item) const = 0;
        virtual Node parentForItem(const Node& item) const = 0;
        virtual bool isExpandable(const Node& item) const = 0;
        virtual Rect rectOfRow(int row) const = 0;
        // -1 below the rows.
        virtual int rowAtY(double y) const = 0;
    };

    struct Pointer {
        Node item;
        // Below the last row: `item` then stands for the last top-level item.
        bool inEmptySpace = false;
    };
    static Pointer itemFromDraggingLocation(const Tree& tree, double y);

    // Above (true) when y is at most the middle of the item's row; an item without a row has an empty
    // rectangle at 0.
    static bool isDraggingAbove(const Tree& tree, const Node& item, double y);
    // On within 3 points of the row's middle (truncated first), else above or below.
    static std::int64_t threeZonePosition(const Tree& tree, const Node& item, double y);

    struct Drop {
        bool accepted = false;
        Node focus;
        std::int64_t position = kAbove;
    };
    // The pool's own items under the pointer: groups never enter groups, a backup-all group keeps its own
    // children and takes no others.
    static Drop canDropToDirectory(const Tree& tree, const PoolSelectionEntries& entries, const Pointer& pointer, double y);

    // Where a foreign drag's marker goes: a drag that makes a new group marks the top-level ancestor by
    // halves; a group is marked by three zones; anything else by halves.
    static Drop foreignMarker(const Tree& tree, const Pointer& pointer, bool toCreateNewGroup, double y);
    // The answer to a foreign drag over `pointer`, once the marker is placed at `position`: nothing enters
    // a backup-all group, and a group with children takes anything but a drop on a backup-all group.
    static int foreignAnswer(const Tree& tree, const Pointer& pointer, std::int64_t position);

    // The patches a pool drag carries: -1 at once for a backup-all group made for the connected model.
    static std::int64_t getNumberOfDraggedItems(const PoolSelectionEntries& entries, const Tree& tree,
                                                const std::function<bool(const DirectoryObject& group)>& isSameModel);

    // Whether the rows of the entries are one run.
    static bool isUncontinuous(const std::vector<int>& ascendingRows);

    // The message a drop of device-list rows or dropped files becomes.
    enum class Message {
        AddRowsAtSinglePatchItem,
        InsertRowsInGroup,
        AddItemsAtSinglePatchItem,
        AddItemsIntoGroup,
        NewGroupWithRows,
        NewGroupWithItems,
    };
    struct Call {
        Message message = Message::AddRowsAtSinglePatchItem;
        Node target;
        std::uint64_t indexInGroup = 0;
        bool isAbove = false;
    };
    static Call callForRows(const Tree& tree, const Node& focus, std::int64_t position, bool toCreateNewGroup);
    static Call callForFiles(const Tree& tree, const Node& focus, std::int64_t position, std::size_t itemCount);
    static void send(BackupPatch& delegate, const Call& call, const std::vector<std::int64_t>& rows,
                     const std::vector<std::shared_ptr<PatchItem>>& items);
};
