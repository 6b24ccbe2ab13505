// A pool group renamed while a drop's copies into it wait, over the real coordinator: the rename and its
// undo show at once, none of the copies made meanwhile, and every copy lands in the folder the group ends
// with, in the order shown, for the save and the next start.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "app/patch/CommonUtilsPatchCoordinator.h"
#include "app/patch/PatchPoolEditor.h"
#include "app/patch/PatchUndoHandlers.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "library/undo/UndoAction.h"
#include "PatchCases.h"
#include "support/files/HeldPoolCopies.h"
#include "support/library/CoordinatorFixture.h"
#include "support/library/LibraryFiles.h"

namespace fs = std::filesystem;

namespace {

// The patch screen's pool editor and undo handlers over the real coordinator, as the program wires them.
struct PoolScreen {
    explicit PoolScreen(std::pair<CommonUtils*, CommonUtils::Tree> loaded)
        : coordinator(*loaded.first),
          tree(std::move(loaded.second)),
          editor(tree, list,
                 {coordinator, [this](std::shared_ptr<UndoAction> record) { records.push_back(std::move(record)); },
                  [this](const std::string& key, const std::optional<std::string>&, const std::optional<std::string>&) {
                      messages.push_back(key);
                  },
                  [] {}, [] {}, nullptr, nullptr, [this] { ++treeChangedLater; }}),
          handlers(tree, list, undoCollaborators())
    {
    }
    PatchUndoHandlers::Collaborators undoCollaborators()
    {
        PatchUndoHandlers::Collaborators collaborators(coordinator);
        collaborators.showMessage = [this](const std::string& key, const std::optional<std::string>&) { messages.push_back(key); };
        collaborators.copyAgain = [this](const PatchUndoHandlers::Nodes& nodes, const PatchUndoHandlers::Node& group) {
            editor.copyAgain(nodes, group);
        };
        return collaborators;
    }
    CommonUtilsPatchCoordinator coordinator;
    CommonUtils::Tree tree;
    std::vector<std::shared_ptr<PatchItem>> list;
    std::vector<std::shared_ptr<UndoAction>> records;
    Strings messages;
    int treeChangedLater = 0;
    PatchPoolEditor editor;
    PatchUndoHandlers handlers;
};

class PoolGroupRename : public Coordinator {
protected:
    // The coordinator's queue uses the holding disk until the coordinator is gone.
    ~PoolGroupRename() override
    {
        held.release();
        utils.reset();
    }
    std::string under(const std::string& relative) const { return (fs::path(programFolder()) / relative).string(); }
    // Starts the coordinator again on the held disk and loads the saved pool: the coordinator and its tree.
    std::pair<CommonUtils*, CommonUtils::Tree> startAndLoad()
    {
        start(held);
        utils->createPatchDirectoryObjectFromLocal();
        until("patchPool");
        return {utils.get(), recorder.patchPool};
    }
    // Patch files `names` dropped from a folder of their own; a copy "Ahead" from elsewhere may hold the
    // pool's queue before them.
    std::vector<std::string> dropped(const Strings& names)
    {
        fs::create_directories(root / "Dropped");
        fs::create_directories(elsewhere);
        EXPECT_TRUE(files.writeAtomically(ahead, library_files::patchFile("Ahead")));
        held.holdInto = elsewhere;
        std::vector<std::string> sources;
        for (const auto& name : names) {
            sources.push_back(root / ("Dropped/" + name + ".qptc"));
            EXPECT_TRUE(files.writeAtomically(sources.back(), library_files::patchFile(name)));
        }
        return sources;
    }
    // Another drop's copy holds the pool's queue.
    bool holdTheQueue(bool* landed = nullptr)
    {
        utils->writeFilePatchesLater({{ahead, elsewhere}}, [landed](std::vector<CommonUtils::CopiedPatch>) {
            if (landed) *landed = true;
        });
        return held.waitForTheFirst();
    }
    HeldPoolCopies held;
    const std::string elsewhere = root / "Elsewhere", ahead = root / "Ahead.qptc";
};



Strings numbered(int count)
{
    Strings out;
    for (int i = 0; i < count; ++i) out.push_back("P" + std::to_string(i));
    return out;
}

std::vector<std::shared_ptr<PatchItem>> read(PoolScreen& screen, const std::vector<std::string>& sources)
{
    std::vector<std::shared_ptr<PatchItem>> items;
    for (const auto& source : sources) items.push_back(screen.coordinator.readFilePatchWithPath(source));
    return items;
}

}  // namespace

TEST_F(PoolGroupRename, ARenameAndItsUndoDuringTheCopiesShowAtOnceAndEveryCopyLandsInTheFolderShown)
{
    // What bears the name the group is renamed to already: a folder there refuses the rename, and so does
    // another group, whose own copies the refusal need not wait for.
    enum Taken { kFree, kFolder, kGroupStillCopied };
    struct Case {
        const char* what;
        std::string renamedTo;
        Taken taken;
        // Renamed once more, to this, at once.
        std::string renamedAgainTo;
        bool undo;
        // The save is asked as soon as the copies may go on, while they are still to be made.
        bool saveDuringCopies;
    };
    const std::vector<Case> cases{
        {"renamed", "Renamed", kFree, "", false, false},
        {"renamed twice", "First", kFree, "Twice", false, false},
        {"renamed, then undone", "Undone", kFree, "", true, false},
        {"renamed, then saved", "Saved", kFree, "", false, true},
        {"refused: a folder of that name is there", "Taken", kFolder, "", false, false},
        {"refused: a group of that name is still copied into", "", kGroupStillCopied, "", false, false},
    };
    constexpr int kPatches = 40;
    const Strings order = numbered(kPatches);
    const auto sources = dropped(order);
    held.countFrom = root / "Dropped";
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        held.rearm();
        auto screen = std::make_unique<PoolScreen>(startAndLoad());
        // The group's copies wait behind another drop's.
        bool aheadLanded = false;
        ASSERT_TRUE(holdTheQueue(&aheadLanded));
        const auto items = read(*screen, sources);
        const auto group = screen->editor.createNewGroupWithPatchItems(items, nullptr, false, [](PatchPoolEditor::Node) {});
        ASSERT_TRUE(group && group->name);
        const std::string oldName = *group->name;
        std::string renamedTo = each.renamedTo;
        int copies = kPatches;
        if (each.taken == kFolder) fs::create_directories(under("Temp/Local/" + renamedTo));
        if (each.taken == kGroupStillCopied) {
            const auto other = screen->editor.createNewGroupWithPatchItems(items, nullptr, false, [](PatchPoolEditor::Node) {});
            ASSERT_TRUE(other && other->name);
            renamedTo = *other->name;
            copies += kPatches;
        }

        const bool renamed = screen->editor.renameItem(group, renamedTo);
        EXPECT_EQ(renamed, each.taken == kFree);
        if (renamed && !each.renamedAgainTo.empty()) {
            EXPECT_TRUE(screen->editor.renameItem(group, each.renamedAgainTo));
            EXPECT_FALSE(fs::exists(under("Temp/Local/" + renamedTo)));
            renamedTo = each.renamedAgainTo;
        }
        EXPECT_EQ(held.madeSoFar(), 0) << "the rename waited for the copies into its group";
        EXPECT_EQ(*group->name, renamed ? renamedTo : oldName);
        EXPECT_EQ(fs::exists(under("Temp/Local/" + oldName)), !renamed);
        EXPECT_EQ(screen->messages, each.taken == kFree ? Strings{} : Strings{"Patch_FileExist"});
        if (each.undo) {
            ASSERT_EQ(screen->records.size(), 2U);
            screen->handlers.undo(*screen->records.back());
            EXPECT_EQ(held.madeSoFar(), 0) << "the undo waited for the copies into its group";
            EXPECT_EQ(*group->name, oldName);
            EXPECT_FALSE(fs::exists(under("Temp/Local/" + renamedTo)));
        }
        EXPECT_FALSE(aheadLanded);
        const std::string shown = *group->name, folder = under("Temp/Local/" + shown);
        EXPECT_TRUE(fs::is_directory(folder));

        held.release();
        if (!each.saveDuringCopies) utils->settlePoolWork();
        std::atomic<bool> changed{true};
        EXPECT_EQ(utils->savePatchPoolToLocal(screen->tree, changed), std::nullopt);
        EXPECT_EQ(held.madeSoFar(), copies) << "a copy was lost or made twice";
        EXPECT_EQ(testing_app::namesOf(group->childDirectories), order);
        for (const auto& child : group->childDirectories) {
            const std::string path = child->patchItem()->path;
            EXPECT_EQ(fs::path(path).parent_path(), fs::path(folder)) << path;
            EXPECT_TRUE(fs::exists(path)) << path;
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), kPatches);
        EXPECT_FALSE(held.timedOut);

        // The next start shows the group as the window did, every patch in it, in order.
        screen.reset();
        const CommonUtils::Tree next = startAndLoad().second;
        const auto found = std::find_if(next.begin(), next.end(), [&](const auto& node) { return node->name == shown; });
        ASSERT_NE(found, next.end()) << "the saved pool has no group " << shown;
        EXPECT_EQ(testing_app::namesOf((*found)->childDirectories), order);
        EXPECT_EQ(std::count_if(next.begin(), next.end(), [&](const auto& node) { return node->name == oldName; }),
                  shown == oldName ? 1 : 0);
    }
}

// Each group of the pool holds, on the disk, the files its patches name and no other: a patch names a file
// that is there, in its group's folder, and no file but `byHand` is in a folder without a patch naming it.
void expectTheTreeMatchesTheDisk(const CommonUtils::Tree& tree, const std::string& local, const std::string& byHand)
{
    for (const auto& top : tree) {
        if (!top->isGroup) continue;
        const fs::path folder = fs::path(local) / *top->name;
        std::size_t named = fs::path(byHand).parent_path() == folder && fs::exists(byHand) ? 1 : 0;
        for (const auto& child : top->childDirectories) {
            const std::string path = child->patchItem()->path;
            EXPECT_EQ(fs::path(path).parent_path(), folder) << path;
            EXPECT_TRUE(fs::exists(path)) << path;
            ++named;
        }
        if (fs::is_directory(folder)) {
            EXPECT_EQ(static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator())), named)
                << folder;
        }
    }
}

// A move of thousands of landed patches into another group shows at once: the main thread moves no file,
// each moving on the pool's queue behind what was asked before, and each new name (a free one where the
// file's own was taken) lands in its node. Whatever comes at once after it (its undo, a save, a quit, the
// run cut) is ordered behind those moves, and the pool ends as the disk holds it; the next start shows
// every patch once, moved or not. The undo takes one step on the disk per file and a few look-ups in all.
TEST_F(PoolGroupRename, AMoveOfManyLandedPatchesShowsAtOnceAndWhatFollowsItFindsTheFilesMoved)
{
    enum After { kNothing, kUndo, kSave, kQuit, kQuitNotedThenCut, kCut, kFileGoneBeforeItsTurn };
    struct Case { const char* what; After after; };
    const std::vector<Case> cases{
        {"left to land", kNothing},
        {"undone at once", kUndo},
        {"saved at once", kSave},
        {"a quit at once, its save written", kQuit},
        {"a quit noted at once, then the run cut", kQuitNotedThenCut},
        {"the run cut at once", kCut},
        // Another drop's copy holds the queue, and a file goes before its move's turn: its patch leaves the
        // pool, as one whose copy failed does.
        {"a file gone before its turn", kFileGoneBeforeItsTurn},
    };
    constexpr int kPatches = 100;
    const Strings order = numbered(kPatches);
    const auto sources = dropped(order);
    const std::string local = under("Temp/Local");
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        held.rearm();
        // Only the row that holds the queue behind another drop's copy holds it.
        if (each.after != kFileGoneBeforeItsTurn) held.release();
        auto screen = std::make_unique<PoolScreen>(startAndLoad());
        const auto from = screen->editor.createNewGroupWithPatchItems(read(*screen, sources), nullptr, false);
        const auto to = screen->editor.createNewGroupWithPatchItems({}, nullptr, false);
        ASSERT_TRUE(from && to && from->name && to->name);
        ASSERT_EQ(from->childDirectories.size(), static_cast<std::size_t>(kPatches));
        const std::string fromName = *from->name, toName = *to->name;
        // Saved before the move: a run cut without a quit's note comes back as it was saved.
        std::atomic<bool> changed{true};
        ASSERT_EQ(utils->savePatchPoolToLocal(screen->tree, changed), std::nullopt);
        // A file of the same name in the target's folder: its patch's file takes a name of its own.
        const std::string byHand = under("Temp/Local/" + toName + "/P7.qptc");
        ASSERT_TRUE(files.writeAtomically(byHand, library_files::patchFile("P7")));
        PoolSelectionEntries entries;
        for (const auto& child : from->childDirectories) entries.push_back({from, child});
        const auto children = from->childDirectories;

        if (each.after == kFileGoneBeforeItsTurn) {
            ASSERT_TRUE(holdTheQueue());
        }
        held.moves = held.lookUps = 0;
        held.countSteps = true;
        EXPECT_EQ(screen->editor.changePositionWithItems(entries, to, 1).size(), static_cast<std::size_t>(kPatches));
        held.countSteps = false;
        EXPECT_EQ(to->childDirectories, children);
        EXPECT_TRUE(from->childDirectories.empty());
        EXPECT_EQ(held.moves, 0) << "the main thread moved the files";

        if (each.after == kCut || each.after == kQuitNotedThenCut) {
            if (each.after == kQuitNotedThenCut) utils->noteQuitAsked(screen->tree, true);
            // The run ends with the queue's moves made and none of them landed: the note names each file
            // where it was. Gone before the next start begins, as a killed run is.
            screen.reset();
            utils.reset();
            const CommonUtils::Tree next = startAndLoad().second;
            Strings shown;
            std::string holder;
            for (const auto& top : next) {
                // The library holds the groups of the rows before too.
                if (top->name != fromName && top->name != toName) continue;
                for (const auto& child : top->childDirectories) {
                    shown.push_back(child->name.value_or("?"));
                    if (holder.empty()) holder = top->name.value_or("");
                    EXPECT_EQ(top->name.value_or(""), holder) << "the move came back half made";
                }
            }
            // The patch of the same name put into the target's folder by hand shows with the move.
            std::erase(shown, std::string("P7"));
            Strings once = order;
            std::erase(once, std::string("P7"));
            std::sort(shown.begin(), shown.end());
            std::sort(once.begin(), once.end());
            EXPECT_EQ(shown, once) << "a patch was lost or doubled";
            EXPECT_TRUE(holder == fromName || holder == toName) << holder;
            continue;
        }
        held.countSteps = true;
        if (each.after == kUndo) {
            ASSERT_FALSE(screen->records.empty());
            screen->handlers.undo(*screen->records.back());
            EXPECT_EQ(from->childDirectories, children);
            EXPECT_TRUE(to->childDirectories.empty());
            EXPECT_EQ(held.moves, kPatches);
            EXPECT_LE(held.lookUps, 8);
        }
        held.countSteps = false;
        if (each.after == kFileGoneBeforeItsTurn) {
            EXPECT_TRUE(fs::remove(children[3]->patchItem()->path));
            held.release();
        }
        if (each.after == kQuit) utils->noteQuitAsked(screen->tree, true);
        if (each.after == kSave || each.after == kQuit) {
            changed = true;
            EXPECT_EQ(utils->savePatchPoolToLocal(screen->tree, changed), std::nullopt);
        }
        if (each.after == kQuit) {
            EXPECT_FALSE(fs::exists(under("Temp/.closing-pool")));
        }
        utils->settlePoolWork();
        expectTheTreeMatchesTheDisk(screen->tree, local, byHand);
        if (each.after == kFileGoneBeforeItsTurn) {
            EXPECT_EQ(to->childDirectories.size(), static_cast<std::size_t>(kPatches - 1));
            EXPECT_EQ(std::count(to->childDirectories.begin(), to->childDirectories.end(), children[3]), 0);
            EXPECT_EQ(screen->treeChangedLater, 1);
        }
        if (each.after != kUndo) {
            EXPECT_EQ(fs::path(children[7]->patchItem()->path).filename(), "P7 (1).qptc");
        }
        if (each.after == kSave || each.after == kQuit) {
            screen.reset();
            const CommonUtils::Tree next = startAndLoad().second;
            const auto found = std::find_if(next.begin(), next.end(), [&](const auto& node) { return node->name == toName; });
            ASSERT_NE(found, next.end());
            EXPECT_EQ((*found)->childDirectories.size(), static_cast<std::size_t>(kPatches));
        }
    }
}

namespace {

std::shared_ptr<DirectoryObject> parentOfIn(const CommonUtils::Tree& tree, const std::shared_ptr<DirectoryObject>& node)
{
    for (const auto& top : tree)
        if (std::find(top->childDirectories.begin(), top->childDirectories.end(), node) != top->childDirectories.end()) return top;
    return nullptr;
}

}  // namespace

TEST_F(PoolGroupRename, ASecondMoveAskedBeforeTheFirstLandedTakesEachPatchFromWhereTheFirstLeftIt)
{
    // The first move's turn comes while the second is asked: what it does to the tree when its file is
    // gone or cannot move is what the second move starts from, and no patch shows twice or without a file.
    enum Fault { kNone, kFileGone, kFolderGone, kGroupRenamed };
    struct Case { const char* what; Fault fault; };
    const std::vector<Case> cases{
        {"the first move lands", kNone},
        {"the file is gone by the first move's turn", kFileGone},
        {"the first move's folder is gone by its turn", kFolderGone},
        // The rename lands the move first: the move took the group's folder by its name when asked.
        {"the group moved into renamed before the move's turn", kGroupRenamed},
    };
    const auto sources = dropped({"A", "B"});
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        held.rearm();
        auto screen = std::make_unique<PoolScreen>(startAndLoad());
        held.release();
        const auto from = screen->editor.createNewGroupWithPatchItems(read(*screen, sources), nullptr, false);
        const auto to = screen->editor.createNewGroupWithPatchItems({}, nullptr, false);
        const auto third = screen->editor.createNewGroupWithPatchItems({}, nullptr, false);
        ASSERT_TRUE(from && to && third && to->name);
        utils->settlePoolWork();
        ASSERT_EQ(from->childDirectories.size(), 2u);
        const auto patch = from->childDirectories.front();
        const std::string file = patch->patchItem()->path;

        held.rearm();
        ASSERT_TRUE(holdTheQueue());
        ASSERT_EQ(screen->editor.changePositionWithItems({{from, patch}}, to, 1).size(), 1u);
        // The warnings the screen asks after every move, a unit connected, are judged once the move has
        // landed: the main thread does not wait for it, nor for what holds the queue ahead of it.
        int judged = 0;
        screen->coordinator.updatePatchWarningInPatchPoolLater(screen->tree, [&judged] { ++judged; });
        // Nor does a step reading a patch the move does not take (its row selected, its warning judged).
        screen->coordinator.updatePatchWarningWithPatchItem(*from->childDirectories.back()->patchItem());
        {
            std::lock_guard lock(held.mutex);
            EXPECT_FALSE(held.released || held.timedOut) << "the main thread waited for the move";
        }
        EXPECT_EQ(judged, 0);
        if (each.fault != kNone && each.fault != kGroupRenamed) {
            EXPECT_TRUE(fs::remove(each.fault == kFileGone ? utils->absolutePath(file) : under("Temp/Local/" + *to->name)));
        }
        held.release();
        if (each.fault == kGroupRenamed) {
            EXPECT_TRUE(screen->editor.renameItem(to, "Renamed " + std::to_string(&each - cases.data())));
            EXPECT_EQ(parentOfIn(screen->tree, patch), to);
            EXPECT_EQ(fs::path(patch->patchItem()->path).parent_path(), under("Temp/Local/" + *to->name));
            expectTheTreeMatchesTheDisk(screen->tree, under("Temp/Local"), "");
        }
        // Asked at once: the first move lands in its turn, before this one takes the patch.
        screen->editor.changePositionWithItems({{to, patch}}, third, 1);
        utils->settlePoolWork();
        EXPECT_EQ(judged, 1);

        int shown = 0;
        for (const auto& top : screen->tree) {
            if (top == patch) ++shown;
            for (const auto& child : top->childDirectories) shown += child == patch ? 1 : 0;
        }
        if (each.fault == kFileGone) {
            EXPECT_EQ(shown, 0) << "a patch whose file is gone came back into the pool";
        } else {
            EXPECT_EQ(shown, 1) << "the patch shows twice";
            EXPECT_TRUE(fs::exists(utils->absolutePath(patch->patchItem()->path))) << patch->patchItem()->path;
        }
        expectTheTreeMatchesTheDisk(screen->tree, under("Temp/Local"), "");
        screen.reset();
    }
}
