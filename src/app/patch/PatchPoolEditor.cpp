#include "app/patch/PatchPoolEditor.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <unordered_map>
#include <unordered_set>

#include "app/patch/PatchCoordinator.h"
#include "app/patch/PatchPoolRules.h"
#include "app/patch/WithdrawnCopies.h"
#include "library/CommonUtils.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "library/undo/AddToPatchPoolAction.h"
#include "library/undo/ChangePositionAction.h"
#include "library/undo/ChangeTextAction.h"
#include "platform/error/Error.h"

namespace {

constexpr const char* kCanNotCopyPatchItem = "Patch_CanNotCopyPatchItem";
constexpr const char* kCanNotCopyPatchItems = "Patch_CanNotCopyPatchItems";
constexpr const char* kInvalidPatchName = "Patch_InvalidPatchName";
constexpr const char* kCanNotEditPatchItem = "Patch_CanNotEditPatchItem";
constexpr const char* kCanNotRenamePatchGroup = "Patch_CanNotRenamePatchGroup";
constexpr const char* kFileExist = "Patch_FileExist";

// Each node's group, looked up once for a whole pass: a move of thousands of a drop's patches would otherwise
// search the pool for every one of them.
class PoolParents {
public:
    explicit PoolParents(const PatchPoolEditor::Nodes& pool)
    {
        for (const PatchPoolEditor::Node& top : pool) {
            if (!top) continue;
            topLevel_.insert(top.get());
            if (top->isGroup)
                for (const PatchPoolEditor::Node& child : top->childDirectories) parents_.emplace(child.get(), top);
        }
    }
    PatchPoolEditor::Node of(const DirectoryObject* node) const
    {
        const auto found = parents_.find(node);
        return found == parents_.end() ? nullptr : found->second;
    }
    bool atTop(const DirectoryObject* node) const { return topLevel_.count(node) != 0; }
    bool inPool(const DirectoryObject* node) const { return parents_.count(node) != 0 || atTop(node); }

private:
    std::unordered_map<const DirectoryObject*, PatchPoolEditor::Node> parents_;
    std::unordered_set<const DirectoryObject*> topLevel_;
};

// The reason the user is told for a failed copy, where the failure says one the user can act on.
std::optional<std::string> reasonForCopyFailure(const platform::Error& error)
{
    if (error.domain == CommonUtils::kPatchErrorDomain && error.code == CommonUtils::kNotAPatchFile)
        return "Patch_CopyFailedNotAPatchFile";
    if (error.domain != "files") return std::nullopt;
    switch (error.code) {
    case ENOSPC:
    case EDQUOT:
        return "Patch_CopyFailedNoSpace";
    case EACCES:
    case EPERM:
    case EROFS:
        return "Patch_CopyFailedPermission";
    case ENOENT:
        return "Patch_CopyFailedFileGone";
    case ENAMETOOLONG:
        return "Patch_CopyFailedNameTooLong";
    default:
        return std::nullopt;
    }
}

std::string joinPath(const std::string& folder, const std::string& name)
{
    return (std::filesystem::path(folder) / name).string();
}

std::vector<UndoAction::Object> objects(const std::vector<std::shared_ptr<DirectoryObject>>& nodes)
{
    return {nodes.begin(), nodes.end()};
}

template <typename List>
std::ptrdiff_t indexIn(const List& list, const DirectoryObject* node)
{
    const auto at = std::find_if(list.begin(), list.end(), [&](const auto& each) { return each.get() == node; });
    return at == list.end() ? -1 : at - list.begin();
}

}  // namespace

PatchPoolEditor::PatchPoolEditor(Nodes& structureData, const Patches& patchItems, Collaborators collaborators)
    : structureData_(structureData), patchItems_(patchItems), collaborators_(std::move(collaborators))
{
}

PatchPoolEditor::Node PatchPoolEditor::parentOf(const DirectoryObject* item) const
{
    for (const Node& top : structureData_)
        if (top->isGroup && indexIn(top->childDirectories, item) >= 0) return top;
    return nullptr;
}

void PatchPoolEditor::message(const std::string& key, const std::optional<std::string>& argument,
                              const std::optional<std::string>& reasonKey)
{
    if (collaborators_.showMessage) collaborators_.showMessage(key, argument, reasonKey);
}

std::string PatchPoolEditor::groupFolder(const DirectoryObject& group) const
{
    return joinPath(collaborators_.coordinator.localPoolFolder(), CommonUtils::groupFolderName(group.name.value_or("")));
}

// ---- nodes ----

PatchPoolEditor::Node PatchPoolEditor::nodeOfCopy(const PatchItem& patch, bool mark)
{
    auto node = std::make_shared<DirectoryObject>();
    auto copy = patch.copy();
    node->name = copy->patchName;
    node->isWarning = patch.isWarning;
    node->object = copy;
    if (mark) collaborators_.coordinator.updateIncompatiblePathItemInDirectory(*node);
    return node;
}

PatchPoolEditor::Node PatchPoolEditor::backupToPatchDirectoryWithPatchItem(const PatchItem& patch)
{
    return nodeOfCopy(patch, true);
}

PatchPoolEditor::Node PatchPoolEditor::backupToPatchDirectoryWithIndex(std::int64_t index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= patchItems_.size() || !patchItems_[index]) return nullptr;
    return backupToPatchDirectoryWithPatchItem(*patchItems_[static_cast<std::size_t>(index)]);
}

PatchPoolEditor::Nodes PatchPoolEditor::deviceRowNodes(const Rows& rows, bool mark)
{
    // Rows past the device list (a drag that outlived a new list) are left out.
    Nodes nodes;
    for (const std::int64_t row : rows)
        if (row >= 0 && static_cast<std::size_t>(row) < patchItems_.size() && patchItems_[static_cast<std::size_t>(row)])
            nodes.push_back(nodeOfCopy(*patchItems_[static_cast<std::size_t>(row)], mark));
    return nodes;
}

PatchPoolEditor::Nodes PatchPoolEditor::itemNodes(const Patches& items, bool judge, bool mark)
{
    Nodes nodes;
    for (const auto& item : items) {
        if (!item) continue;
        if (judge) collaborators_.coordinator.updatePatchWarningWithPatchItem(*item);
        nodes.push_back(nodeOfCopy(*item, mark));
    }
    return nodes;
}

bool PatchPoolEditor::writeFilePatch(PatchItem& patch, const std::string& toPath, bool /*errorDialog*/)
{
    platform::Error error;
    if (const auto copied = collaborators_.coordinator.writeFilePatchWithPath(patch.path, toPath, &error)) {
        patch.path = copied->path;
        return true;
    }
    message(kCanNotCopyPatchItem, patch.patchName, reasonForCopyFailure(error));
    return false;
}

void PatchPoolEditor::tellFailedCopies(const std::vector<FailedCopy>& failed)
{
    if (failed.empty()) return;
    if (failed.size() == 1) return message(kCanNotCopyPatchItem, failed.front().name, reasonForCopyFailure(failed.front().error));
    // One message for the whole action, however many failed: the first few names and how many in all.
    constexpr std::size_t kNamesShown = 3;
    std::string names;
    for (std::size_t i = 0; i < std::min(kNamesShown, failed.size()); ++i) names += (i > 0 ? ", " : "") + failed[i].name;
    if (failed.size() > kNamesShown) names += ", \u2026";
    names += " (" + std::to_string(failed.size()) + ")";
    std::optional<std::string> reason;
    for (const FailedCopy& each : failed)
        if ((reason = reasonForCopyFailure(each.error))) break;
    message(kCanNotCopyPatchItems, names, reason);
}

void PatchPoolEditor::removeFromTree(const std::unordered_set<const DirectoryObject*>& nodes)
{
    // One pass over the tree, however many leave: a drop of thousands undone before its copies were made
    // takes all of its nodes out at once.
    if (nodes.empty()) return;
    const auto leaving = [&](const Node& each) { return nodes.count(each.get()) > 0; };
    for (const Node& top : structureData_)
        if (top->isGroup)
            top->childDirectories.erase(
                std::remove_if(top->childDirectories.begin(), top->childDirectories.end(), leaving),
                top->childDirectories.end());
    structureData_.erase(std::remove_if(structureData_.begin(), structureData_.end(), leaving), structureData_.end());
}

class PatchPoolEditor::GestureScope {
public:
    explicit GestureScope(PatchPoolEditor& editor) : editor_(editor) { ++editor_.gestures_; }
    ~GestureScope()
    {
        if (--editor_.gestures_ > 0) return;
        std::vector<std::function<void()>> steps;
        steps.swap(editor_.afterGesture_);
        for (const auto& step : steps) step();
    }
    GestureScope(const GestureScope&) = delete;
    GestureScope& operator=(const GestureScope&) = delete;

private:
    PatchPoolEditor& editor_;
};

void PatchPoolEditor::later(std::function<void()> step)
{
    if (collaborators_.later) collaborators_.later(std::move(step));
    else step();
}

void PatchPoolEditor::copyNodes(const Nodes& nodes, const std::string& folder, bool inPlace, Landed then)
{
    if (inPlace) {
        Nodes copied;
        std::vector<FailedCopy> failed;
        for (const Node& node : nodes) {
            PatchItem* patch = node->patchItem();
            if (patch == nullptr) continue;
            platform::Error error;
            if (const auto copy = collaborators_.coordinator.writeFilePatchWithPath(patch->path, folder, &error)) {
                patch->path = copy->path;
                copied.push_back(node);
            } else {
                failed.push_back({patch->patchName, error});
            }
        }
        tellFailedCopies(failed);
        then(std::move(copied), false);
        return;
    }
    PatchCoordinator::PatchCopies copies;
    Nodes asked;
    for (const Node& node : nodes) {
        if (const PatchItem* patch = node->patchItem()) {
            copies.emplace_back(patch->path, folder);
            asked.push_back(node);
        }
    }
    // The nodes are in the tree already: each copy lands in its node, wherever the user has put it since,
    // a step on the node's own file having it land first.
    struct Landing {
        std::vector<bool> copied;
        std::vector<FailedCopy> failed;
        bool handedOver = false;
    };
    auto landing = std::make_shared<Landing>();
    landing->copied.assign(asked.size(), false);
    collaborators_.coordinator.writeFilePatchesLater(
        copies, [this, alive = std::weak_ptr<bool>(alive_), asked = std::move(asked), landing,
                 then = std::move(then)](std::vector<std::pair<std::size_t, PatchCoordinator::CopiedPatch>> results,
                                         bool last) {
            if (!alive.lock()) return;
            std::unordered_set<const DirectoryObject*> gone;
            gone.reserve(results.size());
            for (auto& [i, result] : results) {
                if (i >= asked.size()) continue;
                // A step that took the node over (deleted or moved it) asks its copy again itself.
                if (result.handedOver) {
                    landing->handedOver = true;
                    continue;
                }
                PatchItem& patch = *asked[i]->patchItem();
                if (result.item) {
                    patch.path = result.item->path;
                    asked[i]->isIncompatible = result.isIncompatible;
                    landing->copied[i] = true;
                    continue;
                }
                // A copy withdrawn by the undo of its addition is no failure to tell.
                if (result.error.domain != "files" || result.error.code != ECANCELED)
                    landing->failed.push_back({patch.patchName, result.error});
                // A node whose copy failed leaves the pool, and names no file: nothing done to it later
                // can reach the file it was copied from.
                patch.path.clear();
                gone.insert(asked[i].get());
            }
            removeFromTree(gone);
            if (!last) return;
            Nodes copied;
            for (std::size_t i = 0; i < asked.size(); ++i)
                if (landing->copied[i]) copied.push_back(asked[i]);
            // What the user sees follows on the main thread's next turn: this may land inside another step.
            later([this, alive, landing, copied = std::move(copied), then]() mutable {
                if (!alive.lock()) return;
                tellFailedCopies(landing->failed);
                then(std::move(copied), landing->handedOver);
            });
        });
}

void PatchPoolEditor::record(const Nodes& items, const Node& group, AddType type)
{
    UndoAction::Object groupObject;
    if (group) groupObject = group;
    if (filling_) {
        // Already on the stack, where the user's gesture put it.
        filling_->mItems = objects(items);
        filling_->mGroup = groupObject;
        filling_->mType = type;
        filling_->mPending.reset();
        lastRecord_ = std::move(filling_);
        filling_.reset();
    } else {
        lastRecord_ = std::make_shared<AddToPatchPoolAction>(objects(items), groupObject, type);
        collaborators_.addActionStack(lastRecord_);
    }
    if (collaborators_.setPatchPoolChanged) collaborators_.setPatchPoolChanged();
}

std::shared_ptr<AddToPatchPoolAction> PatchPoolEditor::pushPendingAddition()
{
    auto pending = std::make_shared<AddToPatchPoolAction>(std::vector<UndoAction::Object>{}, UndoAction::Object{}, 0);
    pending->mPending = std::make_shared<AddToPatchPoolAction::Pending>();
    collaborators_.addActionStack(pending);
    return pending;
}

void PatchPoolEditor::addAsPending(const std::shared_ptr<AddToPatchPoolAction>& pending, const std::function<void()>& add)
{
    if (!pending || !pending->mPending) return add();
    if (pending->mPending->takenBack) return;
    filling_ = pending;
    add();
    if (!filling_) return;
    filling_.reset();
    if (collaborators_.withdrawAction) collaborators_.withdrawAction(pending);
}

// ---- saving into the pool ----

// Made here, the copies come first and only what was copied is placed and recorded, so a save of nothing
// records nothing. Made later, the nodes are placed and recorded at once, as the user asked: an undo or
// a save that comes before the copies land finds the addition, and the copies land in its nodes.
PatchPoolEditor::Nodes PatchPoolEditor::placeAndCopy(const Nodes& nodes, const std::string& folder, bool inPlace,
                                                    const std::function<void(const Nodes&)>& place, Added done)
{
    if (!inPlace) {
        lastRecord_.reset();
        if (!nodes.empty()) place(nodes);
        // A save none of whose copies could be made changed nothing: its record goes too, so the next
        // undo takes back what the user did before it.
        // Nodes a later step took over (a deletion its undo may put back) keep it on the stack.
        copyNodes(nodes, folder, false, [this, pushed = lastRecord_, done = std::move(done)](Nodes copied, bool handedOver) {
            if (copied.empty() && !handedOver && pushed && collaborators_.withdrawAction)
                collaborators_.withdrawAction(pushed);
            done(std::move(copied));
        });
        return nodes;
    }
    copyNodes(nodes, folder, true, [place, done](Nodes copied, bool) {
        if (!copied.empty()) place(copied);
        done(std::move(copied));
    });
    return {};
}

PatchPoolEditor::Nodes PatchPoolEditor::addIntoGroup(const Nodes& nodes, const Node& group, std::uint64_t indexInGroup,
                                                    bool isAbove, bool inPlace, Added done)
{
    if (!group || !group->isGroup || indexIn(structureData_, group.get()) < 0) {
        done({});
        return {};
    }
    return placeAndCopy(nodes, groupFolder(*group), inPlace, [this, group, indexInGroup, isAbove](const Nodes& placed) {
        auto& children = group->childDirectories;
        std::size_t position = std::min<std::size_t>(indexInGroup, children.size());
        if (!isAbove && position < children.size()) ++position;
        children.insert(children.begin() + static_cast<std::ptrdiff_t>(position), placed.begin(), placed.end());
        record(placed, group, kIntoGroup);
    }, std::move(done));
}

PatchPoolEditor::Nodes PatchPoolEditor::addAtTopLevel(const Nodes& nodes, const Node& target, bool isAbove,
                                                     bool inPlace, Added done)
{
    return placeAndCopy(nodes, collaborators_.coordinator.localPoolFolder(), inPlace, [this, target, isAbove](const Nodes& placed) {
        const std::ptrdiff_t found = target ? indexIn(structureData_, target.get()) : -1;
        std::size_t position = found >= 0 ? static_cast<std::size_t>(found) : structureData_.size();
        if (!isAbove && position < structureData_.size()) ++position;
        // One position for all: each later patch lands before the earlier ones.
        structureData_.insert(structureData_.begin() + static_cast<std::ptrdiff_t>(position), placed.rbegin(),
                              placed.rend());
        record(placed, nullptr, kTopLevel);
    }, std::move(done));
}

namespace {

template <typename Result, typename Start>
Result inPlace(Start start)
{
    Result result{};
    start([&result](Result answered) { result = std::move(answered); });
    return result;
}

}  // namespace

PatchPoolEditor::Nodes PatchPoolEditor::insertBackUpPatchForPatchItemAtIndexs(const Rows& rows, const Node& group,
                                                                             std::uint64_t indexInGroup, bool isAbove)
{
    return inPlace<Nodes>([&](Added done) { addIntoGroup(deviceRowNodes(rows, true), group, indexInGroup, isAbove, true, done); });
}

PatchPoolEditor::Nodes PatchPoolEditor::addBackUpPatchItems(const Patches& items, const Node& group,
                                                           std::uint64_t indexInGroup, bool isAbove)
{
    return inPlace<Nodes>([&](Added done) { addIntoGroup(itemNodes(items, false, true), group, indexInGroup, isAbove, true, done); });
}

PatchPoolEditor::Nodes PatchPoolEditor::addBackUpPatchItemAtIndexs(const Rows& rows, const Node& target, bool isAbove)
{
    return inPlace<Nodes>([&](Added done) { addAtTopLevel(deviceRowNodes(rows, true), target, isAbove, true, done); });
}

PatchPoolEditor::Nodes PatchPoolEditor::addBackUpPatchItems(const Patches& items, const Node& target, bool isAbove)
{
    return inPlace<Nodes>([&](Added done) { addAtTopLevel(itemNodes(items, true, true), target, isAbove, true, done); });
}

PatchPoolEditor::Patches PatchPoolEditor::deviceRowCopies(const Rows& rows) const
{
    Patches items;
    for (const std::int64_t row : rows)
        if (row >= 0 && static_cast<std::size_t>(row) < patchItems_.size() && patchItems_[static_cast<std::size_t>(row)])
            items.push_back(patchItems_[static_cast<std::size_t>(row)]->copy());
    return items;
}

PatchPoolEditor::Node PatchPoolEditor::createNewGroupWithPatchIndexs(const Rows& rows, const Node& target, bool isAbove)
{
    return createNewGroupWithPatchItems(deviceRowCopies(rows), target, isAbove);
}

PatchPoolEditor::Node PatchPoolEditor::createNewGroupWithPatchItems(const Patches& items, const Node& target,
                                                                   bool isAbove)
{
    return inPlace<Node>([&](AddedGroup done) { createNewGroup(items, target, isAbove, true, done); });
}

PatchPoolEditor::Nodes PatchPoolEditor::insertBackUpPatchForPatchItemAtIndexs(const Rows& rows, const Node& group,
                                                                             std::uint64_t indexInGroup, bool isAbove,
                                                                             Added done)
{
    return addIntoGroup(deviceRowNodes(rows, false), group, indexInGroup, isAbove, false, std::move(done));
}

PatchPoolEditor::Nodes PatchPoolEditor::addBackUpPatchItems(const Patches& items, const Node& group,
                                                           std::uint64_t indexInGroup, bool isAbove, Added done)
{
    return addIntoGroup(itemNodes(items, false, false), group, indexInGroup, isAbove, false, std::move(done));
}

PatchPoolEditor::Nodes PatchPoolEditor::addBackUpPatchItemAtIndexs(const Rows& rows, const Node& target, bool isAbove,
                                                                  Added done)
{
    return addAtTopLevel(deviceRowNodes(rows, false), target, isAbove, false, std::move(done));
}

PatchPoolEditor::Nodes PatchPoolEditor::addBackUpPatchItems(const Patches& items, const Node& target, bool isAbove,
                                                           Added done)
{
    return addAtTopLevel(itemNodes(items, true, false), target, isAbove, false, std::move(done));
}

PatchPoolEditor::Node PatchPoolEditor::createNewGroupWithPatchIndexs(const Rows& rows, const Node& target, bool isAbove,
                                                                    AddedGroup done)
{
    return createNewGroup(deviceRowCopies(rows), target, isAbove, false, std::move(done));
}

PatchPoolEditor::Node PatchPoolEditor::createNewGroupWithPatchItems(const Patches& items, const Node& target,
                                                                   bool isAbove, AddedGroup done)
{
    return createNewGroup(items, target, isAbove, false, std::move(done));
}

PatchPoolEditor::Node PatchPoolEditor::createNewGroup(const Patches& items, const Node& target, bool isAbove,
                                                     bool inPlace, AddedGroup done)
{
    PatchCoordinator& coordinator = collaborators_.coordinator;
    const std::string local = coordinator.localPoolFolder();
    const std::string name = PatchPoolRules::newGroupName(
        [&](const std::string& candidate) { return coordinator.fileExistsAtPath(joinPath(local, candidate)); });
    auto group = std::make_shared<DirectoryObject>();
    group->isGroup = true;
    group->name = name;
    group->path = name;
    // The folder is made before the copies go into it; a folder that cannot be made fails each copy.
    const std::string folder = groupFolder(*group);
    coordinator.createDirectoryAtPath(folder);
    Nodes nodes;
    for (const auto& patch : items) {
        if (!patch) continue;
        coordinator.updatePatchWarningWithPatchItem(*patch);
        auto node = std::make_shared<DirectoryObject>();
        node->name = patch->patchName;
        node->object = patch;
        node->isWarning = patch->isWarning;
        if (inPlace) coordinator.updateIncompatiblePathItemInDirectory(*node);
        nodes.push_back(std::move(node));
    }
    // The group is added even when none of its patches could be copied.
    const auto placeGroup = [this, group, target, isAbove] {
        const std::ptrdiff_t found = target ? indexIn(structureData_, target.get()) : -1;
        if (found >= 0)
            structureData_.insert(structureData_.begin() + found + (isAbove ? 0 : 1), group);
        else
            structureData_.push_back(group);
        record({group}, nullptr, kNewGroup);
    };
    if (!inPlace) {
        group->childDirectories = nodes;
        placeGroup();
    }
    copyNodes(nodes, folder, inPlace, [group, inPlace, placeGroup, done](Nodes copied, bool) {
        if (inPlace) {
            group->childDirectories = std::move(copied);
            placeGroup();
        }
        done(group);
    });
    return group;
}

void PatchPoolEditor::copyAgain(const Nodes& nodes, const Node& group)
{
    if (nodes.empty()) return;
    copyNodes(nodes, group ? groupFolder(*group) : collaborators_.coordinator.localPoolFolder(), false,
              [](Nodes, bool) {});
}

PatchPoolEditor::Node PatchPoolEditor::createEmptyGroupAtTop()
{
    Node group = createNewGroupWithPatchItems({}, nullptr, true);
    structureData_.erase(std::find(structureData_.begin(), structureData_.end(), group));
    structureData_.insert(structureData_.begin(), group);
    return group;
}

// ---- moving inside the pool ----

PatchPoolEditor::Nodes PatchPoolEditor::changePositionWithItems(const PoolSelectionEntries& items, const Node& givenTarget,
                                                               std::int64_t givenPosition)
{
    if (!givenTarget || items.empty()) return {};
    const GestureScope gesture(*this);
    // What has finished copying lands first, so a target whose copy failed is seen to be gone. A copy still
    // under way may fail after the lists below are recorded: the undo passes over its node.
    collaborators_.coordinator.landFinishedPoolWork();
    // A target whose copy failed has left the pool: there is nowhere to move to.
    if (!parentOf(givenTarget.get()) && indexIn(structureData_, givenTarget.get()) < 0) return {};
    const Node targetParent = parentOf(givenTarget.get());
    const auto drop = PatchPoolRules::dropOntoDraggedItem(
        items, givenTarget, givenPosition, targetParent ? targetParent->childDirectories : structureData_);
    const Node target = drop.target;
    if (!target) return {};
    const std::int64_t position = drop.draggingPosition;
    const Node group = position == 1 ? target : parentOf(target.get());
    // Onto a patch nothing moves.
    if (position == 1 && !target->isGroup) return {};
    // A drag released where it started changes nothing and records nothing.
    Nodes block;
    for (const PoolSelectionEntry& entry : items)
        if (entry.childItem && entry.childItem != target && !(entry.childItem->isGroup && group))
            block.push_back(entry.childItem);
    if (PatchPoolRules::leavesOrderAsItIs(group ? group->childDirectories : structureData_, block, target, position))
        return {};

    auto action = std::make_shared<ChangePositionAction>();
    action->mType = 4;
    action->setUpOldList(objects(structureData_));
    std::unordered_set<const DirectoryObject*> recorded;
    const auto recordParent = [&](const Node& parent) {
        if (recorded.insert(parent.get()).second) action->mOldParentList.push_back({parent, parent->childDirectories});
    };
    if (group) recordParent(group);

    const PoolParents parents(structureData_);

    // A patch whose copy has not begun moves without it: the copy is withdrawn and asked again into the
    // folder the patch goes to, so a move of thousands of a drop's patches waits for none of their copies.
    // Each group's folder named once: thousands of a drop's patches share the one of their group.
    const std::string local = collaborators_.coordinator.localPoolFolder();
    std::unordered_map<const DirectoryObject*, std::string> folders;
    WithdrawnCopies handedOver;
    for (const PoolSelectionEntry& entry : items) {
        if (!entry.childItem || entry.childItem == target) continue;
        const Node from = parents.of(entry.childItem.get());
        if (!from) {
            handedOver.add(entry.childItem, local);
            continue;
        }
        auto [folder, added] = folders.try_emplace(from.get());
        if (added) folder->second = groupFolder(*from);
        handedOver.add(entry.childItem, folder->second);
    }
    handedOver.withdraw(collaborators_.coordinator);
    Nodes copyAgainInto;

    // The items in the order they are taken: each file moves in that order (the order a name taken twice
    // is made unique in), all in one step of the coordinator; the items then leave their lists together
    // and go in as one block beside the target.
    struct Taken {
        Node item;
        Node oldParent;
        // Index among the files moved; none for a group or a patch whose copy was withdrawn.
        std::optional<std::size_t> file;
    };
    std::vector<Taken> taken;
    std::vector<PatchItem*> files;
    std::unordered_set<const DirectoryObject*> seen;
    const auto count = static_cast<std::int64_t>(items.size());
    for (std::int64_t i = PatchPoolRules::getStartPointWithArrayCount(count, position);
         PatchPoolRules::getStopConditionArrayCount(count, i, position);
         i = PatchPoolRules::getNextPointWithIterator(i, position)) {
        const Node& item = items[static_cast<std::size_t>(i)].childItem;
        if (!item || item == target || !seen.insert(item.get()).second) continue;
        // A group stays at the top level: it never goes inside a group.
        if (item->isGroup && group) continue;
        Node oldParent = parents.of(item.get());
        if (!oldParent && !parents.atTop(item.get())) continue;
        std::optional<std::size_t> file;
        if (!item->isGroup && !handedOver.contains(item.get())) {
            PatchItem* patch = item->patchItem();
            if (patch == nullptr) continue;
            file = files.size();
            files.push_back(patch);
        }
        taken.push_back({item, std::move(oldParent), file});
    }
    // The files move on the pool's queue, behind the steps asked before: the tree shows the move at once
    // and each file's new name lands in its node. A coordinator that moves them at once answers first,
    // and a patch whose file could not move then stays where it was.
    auto landing = std::make_shared<MoveLanding>();
    landing->to = group;
    if (!files.empty()) {
        for (const Taken& each : taken)
            if (each.file) {
                landing->nodes.push_back(each.item);
                landing->oldParents.push_back(each.oldParent);
            }
        collaborators_.coordinator.movePatchItemsLater(
            files, group ? group->name.value_or("") : "",
            [this, alive = std::weak_ptr<bool>(alive_), landing](std::vector<std::string> paths) {
                if (!alive.lock()) return;
                if (!landing->placed) {
                    landing->early = std::move(paths);
                    return;
                }
                landMovedFiles(*landing, paths);
            });
        if (!landing->early)
            for (const Node& node : landing->nodes) ++movesWaiting_[node.get()];
    }
    const std::vector<std::string>* early = landing->early ? &*landing->early : nullptr;
    Nodes moved;
    std::unordered_set<const DirectoryObject*> leaving;
    for (const Taken& each : taken) {
        const Node& item = each.item;
        if (each.file && early != nullptr) {
            const std::vector<std::string>& paths = *early;
            if (*each.file >= paths.size() || paths[*each.file].empty()) continue;
            const std::string& path = paths[*each.file];
            PatchItem* patch = files[*each.file];
            patch->path = path;
            item->path = path;
        } else if (each.file) {
            // Its file moves later: it names the file where it is until then.
        } else if (!item->isGroup) {
            copyAgainInto.push_back(item);
        }
        if (!item->isGroup)
            action->mMovedPatchItemList.push_back({each.oldParent ? each.oldParent->name.value_or("") : "", item});
        if (each.oldParent) recordParent(each.oldParent);
        leaving.insert(item.get());
        moved.push_back(item);
    }
    if (!moved.empty()) {
        const auto takenOut = [&](const Node& node) { return leaving.count(node.get()) > 0; };
        for (const auto& parent : action->mOldParentList) std::erase_if(parent.oldParentItem->childDirectories, takenOut);
        std::erase_if(structureData_, takenOut);
        auto& container = group ? group->childDirectories : structureData_;
        std::size_t at = container.size();
        if (position != 1) {
            const std::ptrdiff_t targetAt = indexIn(container, target.get());
            at = targetAt < 0 ? container.size() : static_cast<std::size_t>(targetAt) + (position == 2 ? 1 : 0);
        }
        // Taken last to first below the target, each put right after it: the block keeps the items' order.
        const auto placeAt = container.begin() + static_cast<std::ptrdiff_t>(at);
        if (position == 2) container.insert(placeAt, moved.rbegin(), moved.rend());
        else container.insert(placeAt, moved.begin(), moved.end());
    }
    landing->placed = true;
    copyAgain(copyAgainInto, group);
    if (moved.empty()) return {};
    action->setUpNewList(objects(structureData_));
    collaborators_.addActionStack(action);
    if (collaborators_.setPatchPoolChanged) collaborators_.setPatchPoolChanged();
    return moved;
}

void PatchPoolEditor::landMovedFiles(const MoveLanding& landing, const std::vector<std::string>& paths)
{
    for (const Node& node : landing.nodes)
        if (const auto waiting = movesWaiting_.find(node.get()); waiting != movesWaiting_.end() && --waiting->second <= 0)
            movesWaiting_.erase(waiting);
    std::vector<std::size_t> unmoved;
    for (std::size_t i = 0; i < landing.nodes.size(); ++i) {
        const Node& node = landing.nodes[i];
        PatchItem* patch = node ? node->patchItem() : nullptr;
        if (patch == nullptr) continue;
        if (i < paths.size() && !paths[i].empty()) {
            // The name the file got, a free one where its own was taken.
            patch->path = paths[i];
            node->path = paths[i];
            continue;
        }
        unmoved.push_back(i);
    }
    // The note a quit or a failed save keeps names the files where they now are.
    if (collaborators_.setPatchPoolChanged) collaborators_.setPatchPoolChanged();
    if (unmoved.empty()) return;
    // The landing may come inside a step that has read the tree and goes on with it (a second move of
    // the patches, a rename, a deletion, an undo): what it takes out or puts back waits for that step's
    // end, the editor's own gestures' or the main thread's next turn.
    if (gestures_ > 0) {
        afterGesture_.push_back([this, landing, unmoved] { placeUnmovedFiles(landing, unmoved); });
        return;
    }
    if (collaborators_.later) {
        collaborators_.later([this, alive = std::weak_ptr<bool>(alive_), landing, unmoved] {
            if (alive.lock()) placeUnmovedFiles(landing, unmoved);
        });
        return;
    }
    placeUnmovedFiles(landing, unmoved);
}

void PatchPoolEditor::placeUnmovedFiles(const MoveLanding& landing, const std::vector<std::size_t>& unmoved)
{
    // A move of thousands into a folder gone since puts back as many.
    const PoolParents parents(structureData_);
    std::unordered_set<const DirectoryObject*> gone;
    std::vector<std::size_t> stayed;
    for (const std::size_t i : unmoved) {
        const Node& node = landing.nodes[i];
        PatchItem* patch = node->patchItem();
        // Deleted since, or taken out by a later move's landing; or moved on by a gesture since, whose own
        // move takes the file from where it is and judges it when it lands.
        if (patch == nullptr || !parents.inPool(node.get()) ||
            movesWaiting_.count(node.get()) > 0)
            continue;
        std::filesystem::path file(patch->path);
        if (file.is_relative()) file = std::filesystem::path(collaborators_.coordinator.applicationFolder()) / file;
        // A file gone names nothing the pool could show or save, wherever a gesture since (an undo, a
        // second move) has put its node: the node leaves the pool, as the node of a copy that failed does.
        if (patch->path.empty() || !collaborators_.coordinator.fileExistsAtPath(file.string())) {
            patch->path.clear();
            gone.insert(node.get());
            continue;
        }
        // One that could not move goes back to its group, which holds it, unless a gesture since (an undo)
        // has put it elsewhere.
        if (parents.of(node.get()) == landing.to) stayed.push_back(i);
    }
    removeFromTree(gone);
    // The nodes going back leave their lists together and go in at the end of their groups, in order.
    std::unordered_set<const DirectoryObject*> leaving;
    std::vector<Node> lists;
    std::vector<std::pair<Node, Node>> back;
    for (const std::size_t i : stayed) {
        const Node& node = landing.nodes[i];
        const Node& oldParent = landing.oldParents[i];
        if (oldParent && !parents.atTop(oldParent.get())) continue;
        const Node now = parents.of(node.get());
        if (now == oldParent || !leaving.insert(node.get()).second) continue;
        if (std::find(lists.begin(), lists.end(), now) == lists.end()) lists.push_back(now);
        back.emplace_back(oldParent, node);
    }
    const auto left = [&](const Node& each) { return leaving.count(each.get()) > 0; };
    for (const Node& list : lists) std::erase_if(list ? list->childDirectories : structureData_, left);
    for (const auto& [oldParent, node] : back) (oldParent ? oldParent->childDirectories : structureData_).push_back(node);
    if (collaborators_.setPatchPoolChanged) collaborators_.setPatchPoolChanged();
    if ((!gone.empty() || !stayed.empty()) && collaborators_.treeChangedLater) collaborators_.treeChangedLater();
}

// ---- the in-place rename ----

bool PatchPoolEditor::renameItem(const Node& item, const std::string& text)
{
    if (!item || text == item->name.value_or("")) return false;
    if (text.empty()) {
        message(kInvalidPatchName);
        return false;
    }
    // A group renamed lands the moves into and out of it first, inside this gesture.
    const GestureScope gesture(*this);
    const std::string oldName = item->name.value_or("");
    auto action = std::make_shared<ChangeTextAction>();
    action->mItem = item;
    action->mOldText = oldName;
    action->mNewText = text;
    if (!item->isGroup) {
        PatchItem* patch = item->patchItem();
        // A node without a readable patch has no file to carry the name.
        if (patch == nullptr) return false;
        const std::string oldPatchName = patch->patchName;
        if (const auto stored = collaborators_.coordinator.storedPatchTexts(patch->path)) action->mOldStored = *stored;
        patch->patchName = text;
        if (!collaborators_.coordinator.editFilePatch(*patch)) {
            patch->patchName = oldPatchName;
            message(kCanNotEditPatchItem, patch->patchName);
            if (collaborators_.clearColorEditingTextField) collaborators_.clearColorEditingTextField();
            return false;
        }
        item->name = text;
        action->mType = 3;
        if (Node group = parentOf(item.get())) action->mGroupOfItem = group;
    } else {
        // A rename that changes only the case moves the folder too, for a case-sensitive disk.
        switch (renameGroupFolder(item, text)) {
        case 0:
            item->name = text;
            break;
        case 1:
            message(kFileExist);
            return false;
        default:
            message(kCanNotRenamePatchGroup, oldName);
            return false;
        }
        action->mType = 4;
    }
    collaborators_.addActionStack(action);
    if (collaborators_.setPatchPoolChanged) collaborators_.setPatchPoolChanged();
    return true;
}

std::int32_t PatchPoolEditor::renameGroupFolder(const Node& group, const std::string& newName)
{
    WithdrawnCopies pending;
    pending.addChildren(*group, groupFolder(*group));
    pending.withdraw(collaborators_.coordinator);
    const std::int32_t result = collaborators_.coordinator.renameGroup(*group, newName);
    if (result == 0) group->name = newName;
    copyAgain(pending.nodes(), group);
    return result;
}
