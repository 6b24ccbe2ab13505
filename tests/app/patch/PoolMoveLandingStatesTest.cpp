// A move of the pool's landed patches, shown at once with its renames on the pool's queue, read against the
// states it meets besides its own turn: its undo and a deletion landing it with a file that cannot move or
// is gone, and a run cut, a quit noted, in the middle of its renames, then started again.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/patch/CommonUtilsPatchCoordinator.h"
#include "app/patch/PatchManagerViewController.h"
#include "app/patch/PatchPoolEditor.h"
#include "app/patch/PatchUndoHandlers.h"
#include "app/shell/AppDelegate.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "library/undo/UndoAction.h"
#include "library/undo/UndoController.h"
#include "platform/error/Error.h"
#include "support/app/PatchScreenRig.h"
#include "support/files/HeldPoolCopies.h"
#include "support/library/CoordinatorFixture.h"
#include "support/library/LibraryFiles.h"

namespace fs = std::filesystem;

namespace {

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

// The pool editor and undo handlers over the real coordinator; steps asked for a later turn wait in
// `laterSteps` when `queueLater` is set, as the program's queued turn holds them.
struct PoolParts {
    explicit PoolParts(std::pair<CommonUtils*, CommonUtils::Tree> loaded, std::function<void()> onReload = {})
        : coordinator(*loaded.first),
          tree(std::move(loaded.second)),
          editor(tree, list,
                 {coordinator, [this](std::shared_ptr<UndoAction> record) { records.push_back(std::move(record)); },
                  nullptr, [] {}, [] {}, nullptr, nullptr, [] {}}),
          reloaded(std::move(onReload)),
          handlers(tree, list, undoCollaborators())
    {
    }
    PatchUndoHandlers::Collaborators undoCollaborators()
    {
        PatchUndoHandlers::Collaborators collaborators(coordinator);
        collaborators.copyAgain = [this](const PatchUndoHandlers::Nodes& nodes, const PatchUndoHandlers::Node& group) {
            editor.copyAgain(nodes, group);
        };
        collaborators.reloadPool = [this](const PatchUndoHandlers::Nodes&) {
            if (reloaded) reloaded();
        };
        return collaborators;
    }
    CommonUtilsPatchCoordinator coordinator;
    CommonUtils::Tree tree;
    std::vector<std::shared_ptr<PatchItem>> list;
    std::vector<std::shared_ptr<UndoAction>> records;
    PatchPoolEditor editor;
    std::function<void()> reloaded;
    PatchUndoHandlers handlers;
};

Strings names(const CommonUtils::Tree& nodes)
{
    Strings out;
    for (const auto& node : nodes) out.push_back(node->name.value_or("?"));
    return out;
}

Node groupNamed(const CommonUtils::Tree& tree, const std::string& name)
{
    const auto found = std::find_if(tree.begin(), tree.end(), [&](const Node& node) { return node->name == name; });
    return found == tree.end() ? nullptr : *found;
}

// Each group's patches name files that are there, in the group's own folder.
void expectEveryPatchInItsGroupsFolder(const CommonUtils::Tree& tree, const std::string& local)
{
    for (const auto& top : tree) {
        if (!top->isGroup) continue;
        for (const auto& child : top->childDirectories) {
            const std::string path = child->patchItem()->path;
            EXPECT_EQ(fs::path(path).parent_path(), fs::path(local) / *top->name) << path;
            EXPECT_TRUE(fs::exists(path)) << path;
        }
    }
}

class PoolMoveLanding : public Coordinator {
protected:
    ~PoolMoveLanding() override
    {
        disk.release();
        utils.reset();
    }
    std::string under(const std::string& relative) const { return (fs::path(programFolder()) / relative).string(); }
    std::pair<CommonUtils*, CommonUtils::Tree> startAndLoad()
    {
        start(disk);
        utils->createPatchDirectoryObjectFromLocal();
        until("patchPool");
        return {utils.get(), recorder.patchPool};
    }
    // `count` patch files outside the program, "<prefix>0" and on.
    std::vector<std::string> dropped(const std::string& prefix, int count, Strings& order)
    {
        const fs::path folder = root / "Dropped";
        fs::create_directories(folder);
        std::vector<std::string> sources;
        for (int i = 0; i < count; ++i) {
            order.push_back(prefix + std::to_string(i));
            sources.push_back((folder / (order.back() + ".qptc")).string());
            EXPECT_TRUE(files.writeAtomically(sources.back(), library_files::patchFile(order.back())));
        }
        return sources;
    }
    // Another drop's copy holds the pool's queue until the disk lets it go.
    void holdTheQueue()
    {
        const std::string elsewhere = root / "Elsewhere";
        fs::create_directories(elsewhere);
        const std::string ahead = root / "Ahead.qptc";
        ASSERT_TRUE(files.writeAtomically(ahead, library_files::patchFile("Ahead")));
        disk.holdInto = elsewhere;
        disk.rearm();
        utils->writeFilePatchesLater({{ahead, elsewhere}}, [](std::vector<CommonUtils::CopiedPatch>) {});
        ASSERT_TRUE(disk.waitForTheFirst());
    }
    CutMoves disk;
};

}  // namespace

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
    Strings order;
    const auto sources = dropped("P", kPatches, order);
    int round = 0;
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        disk.cutInto.clear();
        auto parts = std::make_unique<PoolParts>(startAndLoad());
        std::vector<std::shared_ptr<PatchItem>> items;
        for (const auto& source : sources) items.push_back(parts->coordinator.readFilePatchWithPath(source));
        Node from;
        Node to;
        if (each.intoTheGroupAbove) to = parts->editor.createNewGroupWithPatchItems({}, nullptr, false);
        from = parts->editor.createNewGroupWithPatchItems(items, nullptr, false);
        if (!each.intoTheGroupAbove) to = parts->editor.createNewGroupWithPatchItems({}, nullptr, false);
        ASSERT_TRUE(from && to && from->name && to->name);
        // Named apart from the groups of the rows before, which the library holds too.
        ASSERT_TRUE(parts->editor.renameItem(from, "From " + std::to_string(round)));
        ASSERT_TRUE(parts->editor.renameItem(to, "To " + std::to_string(round++)));
        utils->settlePoolWork();
        std::atomic<bool> changed{true};
        ASSERT_EQ(utils->savePatchPoolToLocal(parts->tree, changed), std::nullopt);

        disk.cutInto = under("Temp/Local/" + *to->name);
        disk.madeBeforeTheCut = each.madeBeforeTheCut;
        PoolSelectionEntries entries;
        for (const auto& child : from->childDirectories) entries.push_back({from, child});
        ASSERT_EQ(parts->editor.changePositionWithItems(entries, to, 1).size(), static_cast<std::size_t>(kPatches));
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
        EXPECT_EQ(names(movedTo->childDirectories), order) << "the move came back split or out of order";
        if (const Node left = groupNamed(next, fromName)) {
            EXPECT_TRUE(left->childDirectories.empty()) << "the move came back half made";
        }
        expectEveryPatchInItsGroupsFolder(next, under("Temp/Local"));
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
    Strings order;
    const auto sources = dropped("U", 3, order);
    int round = 0;
    for (const Case& each : cases) {
        SCOPED_TRACE(each.what);
        disk.cutInto.clear();
        disk.release();
        // The queue goes on once the undo has put the tree back and asks for the files: the move lands
        // inside it, after the tree was put back.
        auto parts = std::make_unique<PoolParts>(startAndLoad(), [this] { disk.release(); });
        std::vector<std::shared_ptr<PatchItem>> items;
        for (const auto& source : sources) items.push_back(parts->coordinator.readFilePatchWithPath(source));
        const Node from = parts->editor.createNewGroupWithPatchItems(items, nullptr, false);
        const Node to = parts->editor.createNewGroupWithPatchItems({}, nullptr, false);
        ASSERT_TRUE(from && to);
        ASSERT_TRUE(parts->editor.renameItem(from, "Back " + std::to_string(round)));
        ASSERT_TRUE(parts->editor.renameItem(to, "Away " + std::to_string(round++)));
        utils->settlePoolWork();
        const auto children = from->childDirectories;
        ASSERT_EQ(children.size(), 3u);

        holdTheQueue();
        if (each.fault == kCannotMove) {
            disk.cutInto = under("Temp/Local/" + *to->name);
            disk.madeBeforeTheCut = 0;
        }
        PoolSelectionEntries entries;
        for (const auto& child : children) entries.push_back({from, child});
        ASSERT_EQ(parts->editor.changePositionWithItems(entries, to, 1).size(), 3u);
        if (each.fault == kFileGone) {
            ASSERT_TRUE(fs::remove(children[1]->patchItem()->path));
        }
        ASSERT_FALSE(parts->records.empty());
        parts->handlers.undo(*parts->records.back());
        utils->settlePoolWork();

        Strings shown = names(from->childDirectories);
        Strings expected{order[0], order[1], order[2]};
        if (each.fault == kFileGone) expected.erase(expected.begin() + 1);
        EXPECT_EQ(shown, expected);
        EXPECT_TRUE(to->childDirectories.empty());
        expectEveryPatchInItsGroupsFolder(parts->tree, under("Temp/Local"));
        std::atomic<bool> changed{true};
        EXPECT_EQ(utils->savePatchPoolToLocal(parts->tree, changed), std::nullopt) << "the save names a file gone";
        const std::string fromName = *from->name;
        parts.reset();
        disk.cutInto.clear();
        const CommonUtils::Tree next = startAndLoad().second;
        const Node back = groupNamed(next, fromName);
        ASSERT_TRUE(back);
        EXPECT_EQ(names(back->childDirectories), expected);
    }
}

namespace {

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

}  // namespace

// A patch deleted from the group it was moved into before the move's turn came, the group refusing its
// file: the deletion takes the patch it was asked for, its file to the bin and its record on the stack,
// wherever the move's landing comes (before the deletion's own step or inside it); its undo brings it back.
TEST_F(PoolMoveLanding, APatchDeletedBeforeItsMoveLandedIsDeletedThoughItsFileCouldNotMove)
{
    Strings order;
    const auto sources = dropped("D", 2, order);
    disk.release();
    auto parts = std::make_unique<PoolParts>(startAndLoad());
    std::vector<std::shared_ptr<PatchItem>> items;
    for (const auto& source : sources) items.push_back(parts->coordinator.readFilePatchWithPath(source));
    const Node from = parts->editor.createNewGroupWithPatchItems(items, nullptr, false);
    const Node to = parts->editor.createNewGroupWithPatchItems({}, nullptr, false);
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

    const auto shows = [&](const Node& node) {
        for (const auto& top : real.screen->structureData()) {
            if (top == node) return true;
            if (std::find(top->childDirectories.begin(), top->childDirectories.end(), node) != top->childDirectories.end())
                return true;
        }
        return false;
    };
    EXPECT_FALSE(shows(patch)) << "the deletion was dropped: the patch went back to its group";
    EXPECT_FALSE(fs::exists(file)) << "the file stayed in the pool";
    ASSERT_EQ(real.undo.actionStack().size(), before + 1) << "the deletion has no record";
    EXPECT_EQ(names(from->childDirectories), (Strings{order[1]}));
    expectEveryPatchInItsGroupsFolder(real.screen->structureData(), under("Temp/Local"));

    disk.cutInto.clear();
    real.undo.doUndoAction();
    utils->settlePoolWork();
    QCoreApplication::processEvents();
    EXPECT_TRUE(shows(patch)) << "the undo did not bring the patch back";
    EXPECT_TRUE(fs::exists(patch->patchItem()->path)) << patch->patchItem()->path;
    expectEveryPatchInItsGroupsFolder(real.screen->structureData(), under("Temp/Local"));
}
