// The pool's groups and moves over the real coordinator, on a disk that can hold the pool's queue or refuse
// moves: a group renamed while a drop's copies into it wait, and moves of landed patches, shown at once with
// their renames on the queue, read against what they meet (an undo, a deletion, a file gone or refused, a
// quit, a run cut) and the next start.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <thread>

#include "app/patch/CommonUtilsPatchCoordinator.h"
#include "app/patch/PatchManagerViewController.h"
#include "app/patch/PatchPoolEditor.h"
#include "app/patch/PatchUndoHandlers.h"
#include "app/shell/AppDelegate.h"
#include "library/undo/UndoAction.h"
#include "library/undo/UndoController.h"
#include "platform/error/Error.h"
#include "PatchCases.h"
#include "support/files/HeldPoolCopies.h"
#include "support/library/CoordinatorFixture.h"
#include "support/library/LibraryFiles.h"

namespace fs = std::filesystem;

namespace {

using testing_app::namesOf;
using Node = std::shared_ptr<DirectoryObject>;

// The held disk, whose pool's queue moves into one folder stop after a number of them: the run is cut
// there (none made, or none landed, after), or the folder refuses every file moved into it.
struct CutMoves : HeldPoolCopies {
    bool moveItem(const std::string& from, const std::string& to, platform::Error* error = nullptr) override
    {
        if (std::this_thread::get_id() != testThread && !cutInto.empty() && fs::path(to).parent_path() == fs::path(cutInto)) {
            if (madeBeforeTheCut.fetch_sub(1) <= 0) {
                if (error != nullptr) *error = platform::Error::make("files", EACCES, "refused");
                return false;
            }
        }
        return HeldPoolCopies::moveItem(from, to, error);
    }
    std::string cutInto;
    std::atomic<int> madeBeforeTheCut{0};
};

// The patch screen's pool editor and undo handlers over the real coordinator, as the program wires them;
// `onReload` runs as the undo reloads the pool.
struct PoolParts {
    explicit PoolParts(std::pair<CommonUtils*, CommonUtils::Tree> loaded, std::function<void()> onReload = {})
        : coordinator(*loaded.first),
          tree(std::move(loaded.second)),
          editor(tree, list,
                 {coordinator, [this](std::shared_ptr<UndoAction> record) { records.push_back(std::move(record)); },
                  [this](const std::string& key, const std::optional<std::string>&, const std::optional<std::string>&) {
                      messages.push_back(key);
                  },
                  [] {}, [] {}, nullptr, nullptr, [this] { ++treeChangedLater; }}),
          reloaded(std::move(onReload)),
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
        collaborators.reloadPool = [this](const PatchUndoHandlers::Nodes&) {
            if (reloaded) reloaded();
        };
        return collaborators;
    }
    std::vector<std::shared_ptr<PatchItem>> read(const std::vector<std::string>& sources)
    {
        std::vector<std::shared_ptr<PatchItem>> items;
        for (const auto& source : sources) items.push_back(coordinator.readFilePatchWithPath(source));
        return items;
    }
    // A new group of the patches read from `sources`.
    Node group(const std::vector<std::string>& sources = {}) { return editor.createNewGroupWithPatchItems(read(sources), nullptr, false); }
    CommonUtilsPatchCoordinator coordinator;
    CommonUtils::Tree tree;
    std::vector<std::shared_ptr<PatchItem>> list;
    std::vector<std::shared_ptr<UndoAction>> records;
    Strings messages;
    int treeChangedLater = 0;
    PatchPoolEditor editor;
    std::function<void()> reloaded;
    PatchUndoHandlers handlers;
};

PoolSelectionEntries childrenOf(const Node& group)
{
    PoolSelectionEntries entries;
    for (const auto& child : group->childDirectories) entries.push_back({group, child});
    return entries;
}

Node groupNamed(const CommonUtils::Tree& tree, const std::string& name)
{
    const auto found = std::find_if(tree.begin(), tree.end(), [&](const Node& node) { return node->name == name; });
    return found == tree.end() ? nullptr : *found;
}

// Each group of the pool holds, on the disk, the files its patches name and no other: a patch names a file
// that is there, in its group's folder, and no file but `byHand` is in a folder without a patch naming it.
void expectTheTreeMatchesTheDisk(const CommonUtils::Tree& tree, const std::string& local, const std::string& byHand = "")
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

Node parentOfIn(const CommonUtils::Tree& tree, const Node& node)
{
    for (const auto& top : tree)
        if (std::find(top->childDirectories.begin(), top->childDirectories.end(), node) != top->childDirectories.end()) return top;
    return nullptr;
}

// How many times `node` shows in the pool.
long timesShown(const CommonUtils::Tree& tree, const Node& node)
{
    long shown = 0;
    for (const auto& top : tree) shown += (top == node) + std::count(top->childDirectories.begin(), top->childDirectories.end(), node);
    return shown;
}

// The patch screen as the program composes it over the real coordinator: its pool editor, its deletion
// and its undo, with a later turn that is Qt's queued call.
struct RealPatchScreen {
    explicit RealPatchScreen(CommonUtils& utils, CommonUtils::Tree tree) : coordinator(utils)
    {
        appDelegate.setMainController(&mainController);
        screen->setMainController(&mainController);
        screen->setStructureData(std::move(tree));
        screen->reloadDataInPatchPool();
    }
    QApplication& app = testing_app::application();
    testing_app::CallLog log;
    AppDelegate appDelegate;
    testing_app::PatchMainController mainController{log};
    CommonUtilsPatchCoordinator coordinator;
    testing_app::FakePatchDialogs dialogs{log};
    platform::NotificationCenter center;
    UndoController undo{center, [] {}};
    TextRuleContext textRules{"en", {}, [](const std::string&) {}, [](const std::string& key) { return key; }};
    std::unique_ptr<PatchManagerViewController> screen = std::make_unique<PatchManagerViewController>(
        PatchManagerViewController::Collaborators{appDelegate, coordinator, undo, center, dialogs, textRules, 0});
};


class PoolOnDisk : public Coordinator {
protected:
    // The coordinator's queue uses the holding disk until the coordinator is gone.
    ~PoolOnDisk() override
    {
        disk.release();
        utils.reset();
    }
    std::string under(const std::string& relative) const { return (fs::path(programFolder()) / relative).string(); }
    // Starts the coordinator again on the held disk and loads the saved pool: the coordinator and its tree.
    std::pair<CommonUtils*, CommonUtils::Tree> startAndLoad()
    {
        start(disk);
        utils->createPatchDirectoryObjectFromLocal();
        until("patchPool");
        return {utils.get(), recorder.patchPool};
    }
    // Patch files `names` dropped from a folder of their own, and a copy "Ahead" from elsewhere that may hold
    // the pool's queue before them.
    std::vector<std::string> dropped(const Strings& names)
    {
        fs::create_directories(root / "Dropped");
        fs::create_directories(elsewhere);
        EXPECT_TRUE(files.writeAtomically(ahead, library_files::patchFile("Ahead")));
        disk.holdInto = elsewhere;
        std::vector<std::string> sources;
        for (const auto& name : names) {
            sources.push_back(root / ("Dropped/" + name + ".qptc"));
            EXPECT_TRUE(files.writeAtomically(sources.back(), library_files::patchFile(name)));
        }
        return sources;
    }
    // Whether the pool, marked changed, saves without a fault.
    bool saved(const CommonUtils::Tree& tree)
    {
        std::atomic<bool> changed{true};
        return utils->savePatchPoolToLocal(tree, changed) == std::nullopt;
    }
    // Another drop's copy holds the pool's queue until the disk lets it go.
    bool holdTheQueue(bool* landed = nullptr)
    {
        disk.rearm();
        utils->writeFilePatchesLater({{ahead, elsewhere}}, [landed](std::vector<CommonUtils::CopiedPatch>) {
            if (landed) *landed = true;
        });
        return disk.waitForTheFirst();
    }
    CutMoves disk;
    const std::string elsewhere = root / "Elsewhere", ahead = root / "Ahead.qptc";
};

class PoolGroupRename : public PoolOnDisk {};
class PoolMoveLanding : public PoolOnDisk {};

// `prefix`0, `prefix`1, ...
Strings numbered(int count, const std::string& prefix = "P")
{
    Strings out;
    for (int i = 0; i < count; ++i) out.push_back(prefix + std::to_string(i));
    return out;
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
    disk.countFrom = root / "Dropped";
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        disk.rearm();
        auto screen = std::make_unique<PoolParts>(startAndLoad());
        // The group's copies wait behind another drop's.
        bool aheadLanded = false;
        ASSERT_TRUE(holdTheQueue(&aheadLanded));
        const auto items = screen->read(sources);
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
        EXPECT_EQ(disk.madeSoFar(), 0) << "the rename waited for the copies into its group";
        EXPECT_EQ(*group->name, renamed ? renamedTo : oldName);
        EXPECT_EQ(fs::exists(under("Temp/Local/" + oldName)), !renamed);
        EXPECT_EQ(screen->messages, each.taken == kFree ? Strings{} : Strings{"Patch_FileExist"});
        if (each.undo) {
            ASSERT_EQ(screen->records.size(), 2U);
            screen->handlers.undo(*screen->records.back());
            EXPECT_EQ(disk.madeSoFar(), 0) << "the undo waited for the copies into its group";
            EXPECT_EQ(*group->name, oldName);
            EXPECT_FALSE(fs::exists(under("Temp/Local/" + renamedTo)));
        }
        EXPECT_FALSE(aheadLanded);
        const std::string shown = *group->name, folder = under("Temp/Local/" + shown);
        EXPECT_TRUE(fs::is_directory(folder));

        disk.release();
        if (!each.saveDuringCopies) utils->settlePoolWork();
        EXPECT_TRUE(saved(screen->tree));
        EXPECT_EQ(disk.madeSoFar(), copies) << "a copy was lost or made twice";
        EXPECT_EQ(namesOf(group->childDirectories), order);
        for (const auto& child : group->childDirectories) {
            const std::string path = child->patchItem()->path;
            EXPECT_EQ(fs::path(path).parent_path(), fs::path(folder)) << path;
            EXPECT_TRUE(fs::exists(path)) << path;
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), kPatches);
        EXPECT_FALSE(disk.timedOut);

        // The next start shows the group as the window did, every patch in it, in order.
        screen.reset();
        const CommonUtils::Tree next = startAndLoad().second;
        const Node found = groupNamed(next, shown);
        ASSERT_TRUE(found) << "the saved pool has no group " << shown;
        EXPECT_EQ(namesOf(found->childDirectories), order);
        EXPECT_EQ(std::count_if(next.begin(), next.end(), [&](const auto& node) { return node->name == oldName; }),
                  shown == oldName ? 1 : 0);
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
        disk.rearm();
        // Only the row that holds the queue behind another drop's copy holds it.
        if (each.after != kFileGoneBeforeItsTurn) disk.release();
        auto screen = std::make_unique<PoolParts>(startAndLoad());
        const auto from = screen->group(sources), to = screen->group();
        ASSERT_TRUE(from && to && from->name && to->name);
        ASSERT_EQ(from->childDirectories.size(), static_cast<std::size_t>(kPatches));
        const std::string fromName = *from->name, toName = *to->name;
        // Saved before the move: a run cut without a quit's note comes back as it was saved.
        ASSERT_TRUE(saved(screen->tree));
        // A file of the same name in the target's folder: its patch's file takes a name of its own.
        const std::string byHand = under("Temp/Local/" + toName + "/P7.qptc");
        ASSERT_TRUE(files.writeAtomically(byHand, library_files::patchFile("P7")));
        const PoolSelectionEntries entries = childrenOf(from);
        const auto children = from->childDirectories;

        if (each.after == kFileGoneBeforeItsTurn) {
            ASSERT_TRUE(holdTheQueue());
        }
        disk.moves = disk.lookUps = 0;
        disk.countSteps = true;
        EXPECT_EQ(screen->editor.changePositionWithItems(entries, to, 1).size(), static_cast<std::size_t>(kPatches));
        disk.countSteps = false;
        EXPECT_EQ(to->childDirectories, children);
        EXPECT_TRUE(from->childDirectories.empty());
        EXPECT_EQ(disk.moves, 0) << "the main thread moved the files";

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
        disk.countSteps = true;
        if (each.after == kUndo) {
            ASSERT_FALSE(screen->records.empty());
            screen->handlers.undo(*screen->records.back());
            EXPECT_EQ(from->childDirectories, children);
            EXPECT_TRUE(to->childDirectories.empty());
            EXPECT_EQ(disk.moves, kPatches);
            EXPECT_LE(disk.lookUps, 8);
        }
        disk.countSteps = false;
        if (each.after == kFileGoneBeforeItsTurn) {
            EXPECT_TRUE(fs::remove(children[3]->patchItem()->path));
            disk.release();
        }
        if (each.after == kQuit) utils->noteQuitAsked(screen->tree, true);
        if (each.after == kSave || each.after == kQuit) {
            EXPECT_TRUE(saved(screen->tree));
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
            ASSERT_TRUE(groupNamed(next, toName));
            EXPECT_EQ(groupNamed(next, toName)->childDirectories.size(), static_cast<std::size_t>(kPatches));
        }
    }
}

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
        disk.rearm();
        auto screen = std::make_unique<PoolParts>(startAndLoad());
        disk.release();
        const auto from = screen->group(sources), to = screen->group(), third = screen->group();
        ASSERT_TRUE(from && to && third && to->name);
        utils->settlePoolWork();
        ASSERT_EQ(from->childDirectories.size(), 2u);
        const auto patch = from->childDirectories.front();
        const std::string file = patch->patchItem()->path;

        ASSERT_TRUE(holdTheQueue());
        ASSERT_EQ(screen->editor.changePositionWithItems({{from, patch}}, to, 1).size(), 1u);
        // The warnings the screen asks after every move, a unit connected, are judged once the move has
        // landed: the main thread does not wait for it, nor for what holds the queue ahead of it.
        int judged = 0;
        screen->coordinator.updatePatchWarningInPatchPoolLater(screen->tree, [&judged] { ++judged; });
        // Nor does a step reading a patch the move does not take (its row selected, its warning judged).
        screen->coordinator.updatePatchWarningWithPatchItem(*from->childDirectories.back()->patchItem());
        {
            std::lock_guard lock(disk.mutex);
            EXPECT_FALSE(disk.released || disk.timedOut) << "the main thread waited for the move";
        }
        EXPECT_EQ(judged, 0);
        if (each.fault != kNone && each.fault != kGroupRenamed) {
            EXPECT_TRUE(fs::remove(each.fault == kFileGone ? utils->absolutePath(file) : under("Temp/Local/" + *to->name)));
        }
        disk.release();
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

        const long shown = timesShown(screen->tree, patch);
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
// A quit noted, then the run cut while the move's renames were under way (none made, some, all, none of
// them landed): the note names the tree the window showed, each moved patch by the file it had before
// its move. The next start shows every patch in the group it was moved to, in the order shown, whichever
// of the two groups comes first in the pool.
TEST_F(PoolMoveLanding, ARunCutInTheMiddleOfAMovesRenamesComesBackWithTheMoveWhole)
{
    struct Case {
        const char* what;
        int madeBeforeTheCut;
        bool intoTheGroupAbove;
    };
    constexpr int kPatches = 12;
    const std::vector<Case> cases{
        {"none of the renames made", 0, false},
        {"half of them made", kPatches / 2, false},
        {"all of them made", kPatches, false},
        {"half made, into the group above", kPatches / 2, true},
        {"none made, into the group above", 0, true},
    };
    const Strings order = numbered(kPatches);
    const auto sources = dropped(order);
    int round = 0;
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        disk.cutInto.clear();
        auto parts = std::make_unique<PoolParts>(startAndLoad());
        Node to = each.intoTheGroupAbove ? parts->group() : nullptr;
        const Node from = parts->group(sources);
        if (!each.intoTheGroupAbove) to = parts->group();
        ASSERT_TRUE(from && to && from->name && to->name);
        // Named apart from the groups of the rows before, which the library holds too.
        ASSERT_TRUE(parts->editor.renameItem(from, "From " + std::to_string(round)));
        ASSERT_TRUE(parts->editor.renameItem(to, "To " + std::to_string(round++)));
        utils->settlePoolWork();
        ASSERT_TRUE(saved(parts->tree));

        disk.cutInto = under("Temp/Local/" + *to->name);
        disk.madeBeforeTheCut = each.madeBeforeTheCut;
        ASSERT_EQ(parts->editor.changePositionWithItems(childrenOf(from), to, 1).size(), static_cast<std::size_t>(kPatches));
        utils->noteQuitAsked(parts->tree, true);
        const std::string fromName = *from->name;
        const std::string toName = *to->name;
        // Cut: the queue's renames end where the disk stops them, and none lands.
        parts.reset();
        utils.reset();
        disk.cutInto.clear();

        const CommonUtils::Tree next = startAndLoad().second;
        const Node movedTo = groupNamed(next, toName);
        ASSERT_TRUE(movedTo);
        EXPECT_EQ(namesOf(movedTo->childDirectories), order) << "the move came back split or out of order";
        if (const Node left = groupNamed(next, fromName)) {
            EXPECT_TRUE(left->childDirectories.empty()) << "the move came back half made";
        }
        expectTheTreeMatchesTheDisk(next, under("Temp/Local"));
    }
}

// Undone before its turn came, the move's landing comes inside the undo: a patch whose file is gone by
// then leaves the pool as it would without the undo, one whose file could not move stays where the undo
// puts it; the pool then saves whole and the next start shows it so.
TEST_F(PoolMoveLanding, AnUndoLandingTheMoveLeavesNoPatchNamingAFileThatIsGone)
{
    enum Fault { kFileGone, kCannotMove };
    struct Case {
        const char* what;
        Fault fault;
    };
    const std::vector<Case> cases{
        {"a file gone by the move's turn", kFileGone},
        {"the group moved into refuses the files", kCannotMove},
    };
    const Strings order = numbered(3, "U");
    const auto sources = dropped(order);
    int round = 0;
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        disk.cutInto.clear();
        disk.release();
        // The queue goes on once the undo has put the tree back and asks for the files: the move lands
        // inside it, after the tree was put back.
        auto parts = std::make_unique<PoolParts>(startAndLoad(), [this] { disk.release(); });
        const Node from = parts->group(sources), to = parts->group();
        ASSERT_TRUE(from && to);
        ASSERT_TRUE(parts->editor.renameItem(from, "Back " + std::to_string(round)));
        ASSERT_TRUE(parts->editor.renameItem(to, "Away " + std::to_string(round++)));
        utils->settlePoolWork();
        const auto children = from->childDirectories;
        ASSERT_EQ(children.size(), 3u);

        ASSERT_TRUE(holdTheQueue());
        if (each.fault == kCannotMove) {
            disk.cutInto = under("Temp/Local/" + *to->name);
            disk.madeBeforeTheCut = 0;
        }
        ASSERT_EQ(parts->editor.changePositionWithItems(childrenOf(from), to, 1).size(), 3u);
        if (each.fault == kFileGone) {
            ASSERT_TRUE(fs::remove(children[1]->patchItem()->path));
        }
        ASSERT_FALSE(parts->records.empty());
        parts->handlers.undo(*parts->records.back());
        utils->settlePoolWork();

        const Strings shown = namesOf(from->childDirectories);
        Strings expected{order[0], order[1], order[2]};
        if (each.fault == kFileGone) expected.erase(expected.begin() + 1);
        EXPECT_EQ(shown, expected);
        EXPECT_TRUE(to->childDirectories.empty());
        expectTheTreeMatchesTheDisk(parts->tree, under("Temp/Local"));
        EXPECT_TRUE(saved(parts->tree)) << "the save names a file gone";
        const std::string fromName = *from->name;
        parts.reset();
        disk.cutInto.clear();
        const CommonUtils::Tree next = startAndLoad().second;
        const Node back = groupNamed(next, fromName);
        ASSERT_TRUE(back);
        EXPECT_EQ(namesOf(back->childDirectories), expected);
    }
}

// A patch deleted from the group it was moved into before the move's turn came, the group refusing its
// file: the deletion takes the patch it was asked for, its file to the bin and its record on the stack,
// wherever the move's landing comes (before the deletion's own step or inside it); its undo brings it back.
TEST_F(PoolMoveLanding, APatchDeletedBeforeItsMoveLandedIsDeletedThoughItsFileCouldNotMove)
{
    const Strings order = numbered(2, "D");
    const auto sources = dropped(order);
    disk.release();
    auto parts = std::make_unique<PoolParts>(startAndLoad());
    const Node from = parts->group(sources), to = parts->group();
    ASSERT_TRUE(from && to);
    utils->settlePoolWork();
    CommonUtils::Tree tree = parts->tree;
    parts.reset();

    RealPatchScreen real(*utils, tree);
    const Node patch = from->childDirectories.front();
    const std::string file = patch->patchItem()->path;
    disk.cutInto = under("Temp/Local/" + *to->name);
    disk.madeBeforeTheCut = 0;
    ASSERT_EQ(real.screen->patchPoolEditor().changePositionWithItems({{from, patch}}, to, 1).size(), 1u);
    ASSERT_EQ(to->childDirectories, PatchPoolEditor::Nodes{patch});
    const std::size_t before = real.undo.actionStack().size();

    real.screen->didClickOnDeleteButtonWithItems(real.screen->rightPanelOutlineView(), {{to, patch}});
    utils->settlePoolWork();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();

    const auto shows = [&](const Node& node) { return timesShown(real.screen->structureData(), node) > 0; };
    EXPECT_FALSE(shows(patch)) << "the deletion was dropped: the patch went back to its group";
    EXPECT_FALSE(fs::exists(file)) << "the file stayed in the pool";
    ASSERT_EQ(real.undo.actionStack().size(), before + 1) << "the deletion has no record";
    EXPECT_EQ(namesOf(from->childDirectories), (Strings{order[1]}));
    expectTheTreeMatchesTheDisk(real.screen->structureData(), under("Temp/Local"));

    disk.cutInto.clear();
    real.undo.doUndoAction();
    utils->settlePoolWork();
    QCoreApplication::processEvents();
    EXPECT_TRUE(shows(patch)) << "the undo did not bring the patch back";
    EXPECT_TRUE(fs::exists(patch->patchItem()->path)) << patch->patchItem()->path;
    expectTheTreeMatchesTheDisk(real.screen->structureData(), under("Temp/Local"));
}
