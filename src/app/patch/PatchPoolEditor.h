#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "app/patch/PoolSelectionEntry.h"
#include "platform/error/Error.h"

class DirectoryObject;
class PatchItem;
class AddToPatchPoolAction;
class PatchCoordinator;
class UndoAction;

// The pool's edits, without a widget: renaming a patch or a group in place, saving device patches or
// patch files into the pool, moving items between groups with their files, and making a new group. Each
// changes the tree and the files under the pool's working folder together, pushes one undo record and
// marks the pool changed; an edit that changes nothing pushes nothing. The caller reloads the pool and
// selects the nodes an edit answers. Main thread only.
class PatchPoolEditor {
public:
    using Node = std::shared_ptr<DirectoryObject>;
    using Nodes = std::vector<Node>;
    using Patches = std::vector<std::shared_ptr<PatchItem>>;
    using Rows = std::vector<std::int64_t>;
    using Added = std::function<void(Nodes added)>;
    using AddedGroup = std::function<void(Node group)>;

    struct Collaborators {
        PatchCoordinator& coordinator;
        // Pushes a record onto the undo stack.
        std::function<void(std::shared_ptr<UndoAction>)> addActionStack;
        // A message by localisation key, with its one argument when the text is a format, and the key of
        // the reason that follows it when one is known.
        std::function<void(const std::string& key, const std::optional<std::string>& argument,
                           const std::optional<std::string>& reasonKey)>
            showMessage;
        std::function<void()> setPatchPoolChanged;
        // The editing text fields show as not edited again.
        std::function<void()> clearColorEditingTextField;
        // Runs a step on a later turn of the main thread; at once when not given.
        std::function<void(std::function<void()>)> later;
        // Takes a pushed record back off the undo stack.
        std::function<void(const std::shared_ptr<UndoAction>&)> withdrawAction;
        // The tree changed on a later turn, after a step it showed at once (a move whose file was gone or
        // could not move when its turn came).
        std::function<void()> treeChangedLater;
    };

    // The tree and the device list are the screen's; the editor works on them in place.
    PatchPoolEditor(Nodes& structureData, const Patches& patchItems, Collaborators collaborators);

    // The group holding `item`; none at the top level or when the item is not in the pool.
    Node parentOf(const DirectoryObject* item) const;

    // A pool node of a copy of `patch`, marked against the connected device.
    Node backupToPatchDirectoryWithPatchItem(const PatchItem& patch);
    // The same for the device list's patch at `index`; none past the list.
    Node backupToPatchDirectoryWithIndex(std::int64_t index);

    // Copies the patch's file into `toPath` and points the patch at the copy; a failure is told by message
    // whatever `errorDialog` says.
    bool writeFilePatch(PatchItem& patch, const std::string& toPath, bool errorDialog);

    // Each answers the nodes added, to be selected.
    Nodes insertBackUpPatchForPatchItemAtIndexs(const Rows& rows, const Node& group, std::uint64_t indexInGroup,
                                                bool isAbove);
    Nodes addBackUpPatchItems(const Patches& items, const Node& group, std::uint64_t indexInGroup, bool isAbove);
    Nodes addBackUpPatchItemAtIndexs(const Rows& rows, const Node& target, bool isAbove);
    Nodes addBackUpPatchItems(const Patches& items, const Node& target, bool isAbove);
    // Each answers the new group, added even when none of its patches could be copied.
    Node createNewGroupWithPatchIndexs(const Rows& rows, const Node& target, bool isAbove);
    Node createNewGroupWithPatchItems(const Patches& items, const Node& target, bool isAbove);

    // The same saves with the files copied off the main thread by the coordinator: the tree changes and
    // the record is pushed at once, as the user asked, and each answers the nodes it placed; each copy
    // lands in its node wherever the node is by then, a node whose copy failed leaves the pool, and the
    // failures of one save are told in one message. `done` gets the nodes copied, on a later turn of the
    // main thread. A group gone from the pool when asked takes none of them. Nothing runs once the
    // editor is gone.
    Nodes insertBackUpPatchForPatchItemAtIndexs(const Rows& rows, const Node& group, std::uint64_t indexInGroup,
                                                bool isAbove, Added done);
    Nodes addBackUpPatchItems(const Patches& items, const Node& group, std::uint64_t indexInGroup, bool isAbove,
                              Added done);
    Nodes addBackUpPatchItemAtIndexs(const Rows& rows, const Node& target, bool isAbove, Added done);
    Nodes addBackUpPatchItems(const Patches& items, const Node& target, bool isAbove, Added done);
    Node createNewGroupWithPatchIndexs(const Rows& rows, const Node& target, bool isAbove, AddedGroup done);
    Node createNewGroupWithPatchItems(const Patches& items, const Node& target, bool isAbove, AddedGroup done);
    // An empty group at the top of the pool.
    Node createEmptyGroupAtTop();
    // The copies of these nodes' files (the files dropped, a step having withdrawn their copies) asked
    // again into `group`'s folder (the pool's own without one), off the main thread: each lands in its
    // node wherever it is by then, and a node whose copy fails leaves the pool, told as a save's are.
    void copyAgain(const Nodes& nodes, const Node& group);

    // An addition asked now and made later (a drop whose files are still being read): its record is pushed
    // now, in the order of the user's gestures, and stays pending until `addAsPending` makes it.
    std::shared_ptr<AddToPatchPoolAction> pushPendingAddition();
    // Runs `add` (one of the saves above) as the pending record's addition: that record is filled rather
    // than a new one pushed. Nothing runs when the record was undone before; a record the addition did not
    // fill (nothing read, its group gone) is withdrawn.
    void addAsPending(const std::shared_ptr<AddToPatchPoolAction>& pending, const std::function<void()>& add);

    // Moves the pool's own items: 0 above `target`, 1 onto it, 2 below it; answers the items moved; a
    // group never goes inside a group. The files move on the pool's queue after the steps asked before,
    // each one's new name landing in its node; when its turn comes, a patch whose file is gone leaves the
    // pool and one whose file cannot move goes back to its group (treeChangedLater). A coordinator that
    // moves the files at once leaves a patch whose file cannot move where it was.
    Nodes changePositionWithItems(const PoolSelectionEntries& items, const Node& target, std::int64_t draggingPosition);

    // The in-place rename of `item` to `text`; true when the name changed.
    bool renameItem(const Node& item, const std::string& text);
    // The group's folder renamed without waiting for the copies still to be made into it: those not begun
    // are withdrawn and asked again into the folder the group ends with, renamed or not (one under way
    // lands first, and moves with the folder). Answers as the coordinator's renameGroup: 0 renamed (the
    // group bears the new name), 1 a folder of that name exists, 2 refused or failed.
    std::int32_t renameGroupFolder(const Node& group, const std::string& newName);

private:
    enum AddType : std::int64_t { kIntoGroup = 1, kTopLevel = 2, kNewGroup = 3 };
    std::string groupFolder(const DirectoryObject& group) const;
    // Copies each node's patch file into `folder` and points the patch at its copy; `then` gets the
    // nodes copied. In place, or off the main thread with the copies' marks set on their nodes.
    // `then` also hears whether a later step took over any node (withdrew its copy to ask it again).
    using Landed = std::function<void(Nodes copied, bool handedOver)>;
    void copyNodes(const Nodes& nodes, const std::string& folder, bool inPlace, Landed then);
    struct FailedCopy {
        std::string name;
        platform::Error error;
    };
    void tellFailedCopies(const std::vector<FailedCopy>& failed);
    void removeFromTree(const std::unordered_set<const DirectoryObject*>& nodes);
    // A move's files, moved later: each node with the group it was taken from, in the order moved, and
    // the group it went to (none for the top of the pool).
    struct MoveLanding {
        Nodes nodes;
        Nodes oldParents;
        Node to;
        // The tree shows the move.
        bool placed = false;
        // The new paths, when the coordinator answered before the tree changed.
        std::optional<std::vector<std::string>> early;
    };
    void landMovedFiles(const MoveLanding& landing, const std::vector<std::string>& paths);
    // Takes out, or puts back into its group, each node of a landed move whose file did not move, judged
    // again where the node is now: a gesture since may have moved or deleted it.
    void placeUnmovedFiles(const MoveLanding& landing, const std::vector<std::size_t>& unmoved);
    void later(std::function<void()> step);
    Nodes placeAndCopy(const Nodes& nodes, const std::string& folder, bool inPlace,
                       const std::function<void(const Nodes&)>& place, Added done);
    Nodes addIntoGroup(const Nodes& nodes, const Node& group, std::uint64_t indexInGroup, bool isAbove, bool inPlace,
                       Added done);
    Nodes addAtTopLevel(const Nodes& nodes, const Node& target, bool isAbove, bool inPlace, Added done);
    Node createNewGroup(const Patches& items, const Node& target, bool isAbove, bool inPlace, AddedGroup done);
    void record(const Nodes& items, const Node& group, AddType type);
    // The record the last `record` pushed.
    std::shared_ptr<UndoAction> lastRecord_;
    // The pending record the addition under way fills.
    std::shared_ptr<AddToPatchPoolAction> filling_;
    // A node of a copy of `patch`, marked against the device in place when `mark` says so.
    Node nodeOfCopy(const PatchItem& patch, bool mark);
    Nodes deviceRowNodes(const Rows& rows, bool mark);
    Nodes itemNodes(const Patches& items, bool judge, bool mark);
    // Copies of the device list's patches at `rows`, rows past the list left out.
    Patches deviceRowCopies(const Rows& rows) const;
    void message(const std::string& key, const std::optional<std::string>& argument = std::nullopt,
                 const std::optional<std::string>& reasonKey = std::nullopt);

    Nodes& structureData_;
    const Patches& patchItems_;
    Collaborators collaborators_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    // A move lands while a gesture runs when the gesture waits for the pool's queue (a second move of its
    // patches): the gesture has read the tree, so what the landing takes out or puts back waits for its end.
    class GestureScope;
    int gestures_ = 0;
    std::vector<std::function<void()>> afterGesture_;
    // The moves of each node's file asked and not landed: a later one takes the file from where it is and
    // judges it when it lands, so an earlier one's landing leaves the node to it.
    std::unordered_map<const DirectoryObject*, int> movesWaiting_;
};
