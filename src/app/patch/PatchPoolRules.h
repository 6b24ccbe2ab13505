#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/patch/PoolSelectionEntry.h"

class BankItem;
class DirectoryObject;

// The pool's decisions that need no widget: row titles, the Ctrl-click rule, the restore-all mode, the
// walk of a drop's entries, the drop onto a dragged item and the name of a new group.
class PatchPoolRules {
public:
    using Node = std::shared_ptr<DirectoryObject>;
    using Nodes = std::vector<Node>;
    using BankItems = std::vector<std::shared_ptr<BankItem>>;

    // A row's title: the text and whether it shows in the incompatible colour.
    struct Title {
        std::string text;
        bool incompatible = false;
    };
    // A compatible child of a backup-all group is labelled with the slot a restore all writes it into: its
    // index among the group's children less the incompatible children before it. Children past the last
    // slot, and the row being edited, show the plain name.
    static Title titleForItem(const DirectoryObject& item, const DirectoryObject* parent,
                              const DirectoryObject* editingItem, const BankItems& bankItems);

    // What the pool knows of one row: its item and its group (none at the top level).
    struct Row {
        const DirectoryObject* item = nullptr;
        const DirectoryObject* parent = nullptr;
    };
    // The selection after a Ctrl-click on `clicked`: a selected row leaves it; a group is selected alone; a
    // patch joins only a selection of patches with its own parent, and is selected alone otherwise.
    static std::vector<int> commandClickSelection(const std::vector<int>& selectedRows, int clicked,
                                                  const std::function<Row(int)>& rowAt);

    // The rows a drag pressed on `pressed` carries, as list views do: the selection when the row is in it,
    // else the pressed row alone (which the drag selects); none below the rows.
    static std::vector<int> draggedRows(const std::vector<int>& selectedRows, int pressed);

    // Restore-all mode after a selection change, from the item of the first selected row.
    static bool restoreAllModeForSelection(const DirectoryObject* firstSelected);
    // Restore-all mode after a click: a click outside the selection leaves the mode as it is (none).
    static std::optional<bool> restoreAllModeForClick(const DirectoryObject* clicked, bool clickedIsSelected);

    // The walk over a drop's entries: forward above (0) and onto (1), backward below (2), so the items
    // keep their order whichever side of the target they land.
    static std::int64_t getStartPointWithArrayCount(std::int64_t count, std::int64_t draggingPosition);
    static bool getStopConditionArrayCount(std::int64_t count, std::int64_t iterator, std::int64_t draggingPosition);
    static std::int64_t getNextPointWithIterator(std::int64_t iterator, std::int64_t draggingPosition);

    // A drop onto one of the dragged items becomes a drop below the nearest item above it that is not
    // dragged, or, with none above, a drop above the first one below it: the block keeps its order and its
    // place. `container` holds the target (its group's children or the top level). No target when the
    // whole container is dragged.
    struct Drop {
        Node target;
        std::int64_t draggingPosition = 0;
    };
    static Drop dropOntoDraggedItem(const PoolSelectionEntries& items, const Node& target,
                                    std::int64_t draggingPosition, const Nodes& container);
    // Whether moving `block` (in its order) to `target` of `container` (before it, onto the container's
    // group at the end, or after it) gives the container back as it is: a drag released where it started.
    // False when a block item is not in the container.
    static bool leavesOrderAsItIs(const Nodes& container, const Nodes& block, const Node& target,
                                  std::int64_t draggingPosition);

    static constexpr const char* kNewGroupFormat = "New Patch Group %ld";
    // "New Patch Group n" with the smallest n from 1 that `exists` does not report.
    static std::string newGroupName(const std::function<bool(const std::string&)>& exists);
};
