#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <map>
#include <optional>
#include <unordered_set>
#include <string>
#include <vector>

#include "app/patch/NeighbourPutBack.h"

class AddToPatchPoolAction;
class ChangePositionAction;
class ChangeTextAction;
class DeleteAction;
class DirectoryObject;
class DragFromPoolToListAction;
class PatchCoordinator;
class PatchItem;
class SelectionAction;
class UndoAction;

// The patch screen's undo, without a widget: one handler per kind of record puts the device list, the
// pool tree and the files behind them back as they were, writes the changed slots to the device and
// tells every failure by message. A handler pushes nothing; a failed undo leaves the newer state and is
// not retried. Main thread only.
class PatchUndoHandlers {
public:
    using Node = std::shared_ptr<DirectoryObject>;
    using Nodes = std::vector<Node>;
    using Patches = std::vector<std::shared_ptr<PatchItem>>;
    using Rows = std::vector<std::uint64_t>;

    // What the handlers ask of the screen; each is optional.
    struct Collaborators {
        explicit Collaborators(PatchCoordinator& fileCoordinator) : coordinator(fileCoordinator) {}

        PatchCoordinator& coordinator;
        // A message by localisation key, with its one argument when the text is a format.
        std::function<void(const std::string& key, const std::optional<std::string>& argument)> showMessage;
        // Reloads the pool; the nodes the undo put back or changed have their warnings judged again.
        std::function<void(const Nodes& touched)> reloadPool;
        std::function<void()> clearPoolSelection;
        std::function<void()> reloadList;
        std::function<void(std::uint64_t row)> reloadListRow;
        // The device writes of one slot and of a run of slots.
        std::function<void(std::uint64_t index)> writeSlot;
        std::function<void(std::uint64_t location, std::uint64_t length)> writeRange;
        // Deselects every row and empties the list view's ordered selection.
        std::function<void()> clearListSelection;
        // Selects exactly these rows (ascending).
        std::function<void(const Rows& rows)> selectListRows;
        // Makes the row's patch the device's current one and scrolls the row into view.
        std::function<void(std::uint64_t row)> selectOnDevice;
        std::function<bool()> isRestoreAllMode;
        std::function<bool(const DirectoryObject& node)> isSelectedInPool;
        // Leaves restore-all mode and redraws the button.
        std::function<void()> leaveRestoreAllMode;
        // Marks the pool changed: called for every undo that can change what the pool holds.
        std::function<void()> setPatchPoolChanged;
        // Asks again, off the main thread, the copies of these nodes' files into `group`'s folder (the
        // pool's own without one); each lands in its node (PatchPoolEditor::copyAgain).
        std::function<void(const Nodes& nodes, const Node& group)> copyAgain;
    };

    // The tree and the device list are the screen's; the handlers work on them in place.
    PatchUndoHandlers(Nodes& structureData, Patches& patchItems, Collaborators collaborators);

    // Picks the handler by the record's kind; any other record does nothing. Every undo but a list
    // selection's is a change of the pool, whatever its handler does: the next save writes it.
    void undo(const UndoAction& action);

    void doUndoActionForChangeText(const ChangeTextAction& action);
    void doUndoActionForChangePosition(const ChangePositionAction& action);
    void doUndoActionForDragFromPoolToList(const DragFromPoolToListAction& action);
    void doUndoActionForAddToPatchPool(const AddToPatchPoolAction& action);
    void doUndoActionForSelectionInPatchList(const SelectionAction& action);
    void doUndoActionForDeleteInPatchPool(const DeleteAction& action);

private:
    void undoListText(const ChangeTextAction& action);
    void undoPoolPatchText(const ChangeTextAction& action);
    void undoGroupName(const ChangeTextAction& action);
    void undoPoolPropertySheet(const ChangeTextAction& action);
    // False when the handler must stop.
    bool removeAddedTopLevelNode(const Node& node);
    void undoDeletedPatch(const DeleteAction& action);
    void undoDeletedGroup(const DeleteAction& action);
    std::optional<std::uint64_t> rowOf(const PatchItem* patch) const;
    bool isTopLevel(const DirectoryObject* node) const;
    void message(const std::string& key, const std::optional<std::string>& argument = std::nullopt);
    // While a deletion of several items is undone, the reloads of its records gather into one.
    void reloadPool(const Nodes& touched = {});

    Nodes& structureData_;
    Patches& patchItems_;
    Collaborators collaborators_;
    std::optional<Nodes> gathered_;
    // Where a deleted item goes back in `list`: after the nearest of its former neighbours before it that
    // the list still holds (at the front without one).
    std::uint64_t placeOf(const DeleteAction& action, const Nodes& list);
    // The nodes each list holds, kept while a deletion of several items is undone (they only grow then).
    std::unordered_set<const DirectoryObject*>& nodesIn(const Nodes& list);
    void putBack(Nodes& list, std::uint64_t place, const Node& node);
    // Puts `node` back where `action` took it from: gathered while a deletion of several is undone, at
    // once otherwise.
    void putBackDeleted(const DeleteAction& action, Nodes& list, const Node& node);
    NeighbourPutBack neighbourPutBack_;
    // The nodes put back whose copies are asked again, by group, once the deletion's undo has placed them.
    std::vector<std::pair<Node, Nodes>> toCopyAgain_;
    void copyAgain(const Node& group, const Node& node);
    void askGatheredCopies();
    std::map<const Nodes*, std::unordered_set<const DirectoryObject*>> nodesIn_;
};
