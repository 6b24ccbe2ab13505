// The patch pool end to end: its edits reach the working copy on disk at once and the saved library at
// the program's end, and an undo puts a deleted patch back.

#include <QApplication>
#include <QKeyEvent>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "DemoCatalogue.h"
#include "DemoPool.h"
#include "DragTour.h"
#include "HeldFiles.h"
#include "DemoUnit.h"
#include "MenuTour.h"
#include "PoolTour.h"
#include "ProgramRig.h"
#include "UndoTour.h"
#include "WindowGestures.h"
#include "app/controls/AutoClosePopover.h"
#include "app/controls/RightClickImageView.h"
#include "app/patch/PatchManagerViewController.h"
#include "app/patch/PatchPoolOutlineView.h"
#include "app/patch/PatchPoolModel.h"
#include "app/patch/PoolNameEditor.h"
#include "library/models/DirectoryObject.h"
#include "library/models/PatchItem.h"
#include "support/library/LibraryFiles.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr auto holds = &ProgramRig::holds;

// Whether a patch file directly in `folder` carries `name`.
bool in(const fs::path& folder, const std::string& name) { return holds(ProgramRig::patchNamesIn(folder), name); }

}  // namespace

// At the start the pool shows the unit's marks and every patch's effect list and warning, whichever came
// first, the unit or the pool's load, judged from the load's one reading of each file.
TEST(PatchPool, TheStartShowsThePoolsMarksAndWarningsForTheUnit)
{
    ProgramRig::onThePatchScreen([&](ProgramRig&, DemoUnit&, QWidget&) {
        PatchManagerViewController* screen = ProgramRig::patchScreen();
        ASSERT_NE(screen, nullptr);
        std::vector<std::shared_ptr<DirectoryObject>> leaves;
        const auto collect = [&] {
            leaves.clear();
            for (const auto& node : screen->structureData()) {
                if (!node->isGroup) leaves.push_back(node);
                for (const auto& child : node->childDirectories) leaves.push_back(child);
            }
            return leaves;
        };
        EXPECT_TRUE(ProgramRig::waitUntil([&] {
            const auto all = collect();
            return !all.empty() && std::all_of(all.begin(), all.end(), [](const auto& leaf) {
                return leaf->patchItem() != nullptr && !leaf->patchItem()->effectDictionnary.empty();
            });
        }, 10s));
        for (const auto& leaf : leaves) {
            SCOPED_TRACE(leaf->name.value_or("?"));
            // The demo's library holds two patches of another unit: one at the top, one in its backup.
            EXPECT_EQ(leaf->isIncompatible, leaf->name == DemoPool::kIncompatiblePatch || leaf->name == "Lead 1");
            EXPECT_EQ(leaf->isWarning, leaf->patchItem()->isWarning);
        }
    });
}

TEST(PatchPool, RenameSaveIntoAGroupNewGroupMoveDeleteAndUndoReachTheFiles)
{
    ProgramRig rig;
    std::vector<std::string> savedFromUnit;
    rig.runToTheEnd([&](ProgramRig& rig) {
        QWidget& window = rig.window();
        ASSERT_TRUE(rig.showPatchScreen());
        const fs::path local = rig.workingCopy();
        ASSERT_TRUE(ProgramRig::renamePoolPatch());
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return in(local, PoolTour::kRenamedTo) && !in(local, PoolTour::kRenamedFrom); }, 10s));

        for (int slot = 0; slot < 3; ++slot) savedFromUnit.push_back(rig.unit().patchNameAt(slot).value_or("?"));
        PoolTour::saveDeviceRowsIntoGroup(window);
        ASSERT_TRUE(ProgramRig::waitUntil(PoolTour::rowsSaved, 10s));
        const fs::path group = ProgramRig::folderNamed(local, DemoPool::kGroupName);
        ASSERT_FALSE(group.empty());
        EXPECT_TRUE(ProgramRig::waitUntil([&] {
            const auto names = ProgramRig::patchNamesIn(group);
            return std::all_of(savedFromUnit.begin(), savedFromUnit.end(), [&](const auto& n) { return holds(names, n); }) &&
                   holds(names, "Intro") && names.size() == 6;
        }, 10s)) << testing::PrintToString(ProgramRig::patchNamesIn(group));

        PoolTour::createGroup(window);
        ASSERT_TRUE(ProgramRig::waitUntil(PoolTour::groupCreated, 10s));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return !ProgramRig::folderNamed(local, "New Patch Group 1").empty(); }, 10s));

        PoolTour::movePatchIntoGroup(window);
        ASSERT_TRUE(ProgramRig::waitUntil(PoolTour::patchMoved, 10s));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return in(group, PoolTour::kMovedPatch) && !in(local, PoolTour::kMovedPatch); }, 10s));

        ASSERT_TRUE(ProgramRig::waitUntil([&] {
            MenuTour::deleteFromPoolMenu(window);
            return MenuTour::patchDeleted();
        }, 10s));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return !in(local, PoolTour::kRenamedTo); }, 10s));

        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return in(local, PoolTour::kRenamedTo); }, 10s));
        EXPECT_TRUE(ProgramRig::waitUntil([] { return !MenuTour::patchDeleted(); }, 10s));
    });

    // What the program saved as it ended is the library the next run opens.
    const fs::path pool = rig.library() / "Pool";
    const auto top = ProgramRig::patchNamesIn(pool);
    EXPECT_TRUE(holds(top, PoolTour::kRenamedTo)) << testing::PrintToString(top);
    EXPECT_FALSE(holds(top, PoolTour::kRenamedFrom));
    EXPECT_FALSE(holds(top, PoolTour::kMovedPatch));
    const auto group = ProgramRig::patchNamesIn(ProgramRig::folderNamed(pool, DemoPool::kGroupName));
    EXPECT_TRUE(holds(group, PoolTour::kMovedPatch)) << testing::PrintToString(group);
    for (const auto& name : savedFromUnit) EXPECT_TRUE(holds(group, name)) << name;
    EXPECT_FALSE(ProgramRig::folderNamed(pool, "New Patch Group 1").empty());
}

namespace {

// Starts renaming the pool's top-level patch `from` and types `typed` over its name, in the active window.
void typeOverPoolName(ProgramRig& rig, const char* from, const QString& typed)
{
    ASSERT_TRUE(ProgramRig::offers("Quit"));
    ASSERT_TRUE(ProgramRig::focusWindow());
    auto* view = rig.window().findChild<PatchPoolOutlineView*>();
    PatchManagerViewController* screen = ProgramRig::patchScreen();
    ASSERT_NE(screen, nullptr);
    std::shared_ptr<DirectoryObject> item;
    for (const auto& node : screen->structureData())
        if (node->name == from) item = node;
    ASSERT_NE(item, nullptr);
    view->setFocus();
    view->editItemAtRow(view->rowForIndex(view->poolModel()->indexOf(item.get())));
    ASSERT_NE(view->nameEditor(), nullptr);
    view->nameEditor()->selectAll();
    for (const QChar ch : typed) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(view->nameEditor(), &press);
    }
}

// Whether the saved library's top-level patches hold `name` and not `gone`.
::testing::AssertionResult savedAtTheTop(const ProgramRig& rig, const std::string& name, const std::string& gone)
{
    const auto top = ProgramRig::patchNamesIn(rig.library() / "Pool");
    if (holds(top, name) && !holds(top, gone)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << testing::PrintToString(top);
}

}  // namespace

// Quit is the user's gesture after the typing, as a click away would be: the typed name is the one saved.
// So it is when the user looks something up in another program and closes this one from a pager or the
// taskbar, or the session ends, while the name is still typed: the window never has the keys again.
struct EndWhileANameIsTyped {
    const char* name;
    std::function<void(ProgramRig&)> end;
    bool away;
};

void PrintTo(const EndWhileANameIsTyped& row, std::ostream* out) { *out << row.name; }

class PatchPoolEnd : public ::testing::TestWithParam<EndWhileANameIsTyped> {};

TEST_P(PatchPoolEnd, SavesTheTypedName)
{
    ProgramRig rig;
    rig.runToTheEnd([&](ProgramRig& rig) {
        ASSERT_TRUE(rig.showPatchScreen());
        typeOverPoolName(rig, PoolTour::kRenamedFrom, QStringLiteral("Typed"));
        const auto browser = GetParam().away ? ProgramRig::anotherWindowTakesTheKeys() : nullptr;
        ASSERT_EQ(browser != nullptr, GetParam().away);
        GetParam().end(rig);
    });
    EXPECT_TRUE(savedAtTheTop(rig, "Typed", PoolTour::kRenamedFrom));
}

INSTANTIATE_TEST_SUITE_P(
    PatchPool, PatchPoolEnd,
    ::testing::Values(EndWhileANameIsTyped{"QuitFromTheMenu", [](ProgramRig& rig) { rig.quitFromMenu(); }, false},
                      EndWhileANameIsTyped{"ClosedFromAPagerWhileAnotherWindowHasTheKeys", [](ProgramRig& rig) { rig.closeWindow(); }, true},
                      EndWhileANameIsTyped{"TheSessionsEndWhileAnotherWindowHasTheKeys", [](ProgramRig& rig) { rig.endBySignal(SIGTERM); }, true}),
    [](const ::testing::TestParamInfo<EndWhileANameIsTyped>& info) { return std::string(info.param.name); });

// A patch file of a group that a copy was still writing at the start is not shown; finished during the run,
// it reads as a patch, and the end's save (which writes copies of the pool the screen shows) keeps it in
// its group, whole, for the next start to show.
TEST(PatchPool, AFileACopyFinishesDuringTheRunIsSavedInItsGroup)
{
    ProgramRig rig;
    const fs::path library = rig.library();
    const Bytes whole = library_files::patchFile("Late");
    const fs::path late = library / "Pool" / (std::string("[1] ") + DemoPool::kGroupName) / "[7] Late.qptc";
    ASSERT_TRUE(ProgramRig::writeFile(late, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2))));
    rig.runToTheEnd([&](ProgramRig& rig) {
        ASSERT_TRUE(rig.showPatchScreen());
        // The copy writes its end into the file the start took into the working copy.
        std::ofstream(late, std::ios::binary | std::ios::app)
            .write(reinterpret_cast<const char*>(whole.data()) + whole.size() / 2, static_cast<std::streamsize>(whole.size() - whole.size() / 2));
        // An edit, so the end writes the library.
        ASSERT_TRUE(ProgramRig::renamePoolPatch());
    });
    const fs::path group = ProgramRig::folderNamed(library / "Pool", DemoPool::kGroupName);
    ASSERT_FALSE(group.empty());
    EXPECT_TRUE(holds(ProgramRig::patchNamesIn(group), "Late")) << testing::PrintToString(ProgramRig::patchNamesIn(group));
}

TEST(PatchPool, AGroupRenamedDraggedOutDeletedAndUndoneAndFilesDroppedInFromAFileManager)
{
    ProgramRig::onThePatchScreen([](ProgramRig& rig, DemoUnit& unit, QWidget& window) {
        const std::vector<std::string> groupPatches{"Intro", "Solo", "Verse"};
        const fs::path local = rig.workingCopy();

        // A name another group has is refused, and said so; both folders stay as they were.
        PoolTour::createGroup(window);
        ASSERT_TRUE(ProgramRig::waitUntil(PoolTour::groupCreated, 10s));
        PoolTour::renameItem(window, DemoPool::kGroupName, "New Patch Group 1");
        EXPECT_TRUE(ProgramRig::waitUntil(ProgramRig::informationShown, 10s));
        ProgramRig::closeInformation();
        ASSERT_TRUE(ProgramRig::waitUntil([] { return !ProgramRig::informationShown(); }, 10s));
        EXPECT_TRUE(PoolTour::showsTopLevel(DemoPool::kGroupName));
        EXPECT_EQ(ProgramRig::patchNamesIn(ProgramRig::folderNamed(local, DemoPool::kGroupName)), groupPatches);
        EXPECT_TRUE(ProgramRig::patchNamesIn(ProgramRig::folderNamed(local, "New Patch Group 1")).empty());

        // The refused name's editor may still be closing: the rename is typed again until it lands.
        bool renamed = false;
        for (int attempt = 0; attempt < 5 && !renamed; ++attempt) {
            PoolTour::renameItem(window, DemoPool::kGroupName, "Encore");
            renamed = ProgramRig::waitUntil([] { return PoolTour::showsTopLevel("Encore"); }, 2s);
        }
        ASSERT_TRUE(renamed);
        EXPECT_TRUE(ProgramRig::folderNamed(local, DemoPool::kGroupName).empty());
        EXPECT_EQ(ProgramRig::patchNamesIn(ProgramRig::folderNamed(local, "Encore")), groupPatches);

        // Another program handed the group takes a folder of its patches.
        const auto handed = DragTour::dragPoolItemsOut(window, {"Encore"});
        ASSERT_EQ(handed.size(), 1U);
        EXPECT_EQ(ProgramRig::patchNamesIn(handed.front()), groupPatches);

        ASSERT_TRUE(ProgramRig::waitUntil([&] {
            MenuTour::deleteFromPoolMenuOf(window, "Encore");
            return !PoolTour::showsTopLevel("Encore");
        }, 10s));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return ProgramRig::folderNamed(local, "Encore").empty(); }, 10s));
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        ASSERT_TRUE(ProgramRig::waitUntil([] { return PoolTour::showsTopLevel("Encore"); }, 10s));
        EXPECT_EQ(ProgramRig::patchNamesIn(ProgramRig::folderNamed(local, "Encore")), groupPatches);

        // Files from a file manager: one for this unit, one for another generation.
        const std::uint32_t type = DemoCatalogue::models().front().effects[0].type;
        const fs::path outside = rig.scratch() / "Outside.qptc";
        const fs::path foreign = rig.scratch() / "Foreign.qptc";
        ASSERT_TRUE(ProgramRig::writeFile(outside, library_files::patchFile("Outside", {type})));
        ASSERT_TRUE(ProgramRig::writeFile(foreign, library_files::patchFile("Foreign", {type}, 2)));
        // The other generation's file is refused: had it been taken, its write would have reached the unit
        // before the one dropped after it.
        const auto before = unit.patchNameAt(31);
        DragTour::dropFilesOnList(window, {foreign.string()}, 31);
        DragTour::dropFilesOnList(window, {outside.string()}, 30);
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(30) == "Outside"; }));
        EXPECT_EQ(WindowGestures::patchListText(30, 1), QStringLiteral("Outside"));
        EXPECT_EQ(unit.patchNameAt(31), before);
        DragTour::dropFilesOnPool(window, {outside.string()});
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return in(local, "Outside"); }, 10s));
        EXPECT_TRUE(fs::exists(outside));
    });
}

// A file manager's drop of more patch files than the unit has slots, one of them from the program's own
// folder at the end: refused whole, however far past the room that file lies. Without it the same files
// are taken.
TEST(PatchPool, ManyFilesDroppedOnTheListWithOneOfTheProgramsOwnLastChangeNoSlot)
{
    ProgramRig::onThePatchScreen([](ProgramRig& rig, DemoUnit& unit, QWidget& window) {
        const fs::path many = rig.scratch() / "Many";
        fs::create_directories(many);
        const std::vector<std::string> paths = held_files::write(many, "F", 150);
        std::vector<std::string> withOwn = held_files::write(rig.root(), "Own", 1);
        withOwn.insert(withOwn.begin(), paths.begin(), paths.end());

        const auto before = unit.patchNameAt(0);
        const QString shownBefore = WindowGestures::patchListText(0, 1);
        ASSERT_NE(before, "F0000");
        DragTour::dropFilesOnList(window, withOwn, 0);
        ProgramRig::settle(1s);
        EXPECT_EQ(unit.patchNameAt(0), before);
        EXPECT_EQ(WindowGestures::patchListText(0, 1), shownBefore);

        DragTour::dropFilesOnList(window, {paths[0], paths[1]}, 0);
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return unit.patchNameAt(1) == "F0001"; }));
        EXPECT_EQ(unit.patchNameAt(0), "F0000");
    });
}

// An undo chosen with the pointer (from the Control menu or the popover) while a pool name is typed takes back
// the earlier rename of that very item, and the typing stays open, with the undone name as its original:
// Return saves the typing, Escape over it or leaving an untouched editor keeps the undone name.
struct UndoUnderTheTyping {
    const char* name;
    bool fromTheMenu;
    const char* typed;
    int key;
    const char* kept;
};

void PrintTo(const UndoUnderTheTyping& row, std::ostream* out) { *out << row.name; }

class PatchPoolUndo : public ::testing::TestWithParam<UndoUnderTheTyping> {};

TEST_P(PatchPoolUndo, UnderATypedNameTakesBackTheRenameBeforeIt)
{
    const UndoUnderTheTyping row = GetParam();
    ProgramRig rig;
    rig.runToTheEnd([&](ProgramRig& rig) {
        ASSERT_TRUE(rig.showPatchScreen());
        QWidget& window = rig.window();
        auto* view = window.findChild<PatchPoolOutlineView*>();
        PoolTour::renameItem(window, PoolTour::kRenamedFrom, PoolTour::kRenamedTo);
        ASSERT_TRUE(ProgramRig::waitUntil([] { return PoolTour::showsTopLevel(PoolTour::kRenamedTo); }, 10s));
        typeOverPoolName(rig, PoolTour::kRenamedTo, QString::fromUtf8(row.typed));
        if (row.fromTheMenu) ASSERT_TRUE(WindowGestures::chooseMenuItem(window, QStringLiteral("Control"), QStringLiteral("Undo")));
        else ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        ASSERT_TRUE(ProgramRig::waitUntil([] { return PoolTour::showsTopLevel(PoolTour::kRenamedFrom); }, 10s));
        // A window manager activates the window again as the menu closes; the offscreen platform is asked.
        if (auto* popover = RightClickImageView::getMenuPopover(); popover && popover->isVisible()) popover->hide();
        window.activateWindow();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return view->nameEditor() != nullptr && QApplication::focusWidget() == view->nameEditor(); }, 5s));
        EXPECT_EQ(view->nameEditor()->text().toStdString(), *row.typed ? row.typed : PoolTour::kRenamedFrom);
        if (row.key == 0) {
            view->endEditing();
        } else {
            QKeyEvent key(QEvent::KeyPress, row.key, Qt::NoModifier);
            QApplication::sendEvent(view->nameEditor(), &key);
        }
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return view->nameEditor() == nullptr && PoolTour::showsTopLevel(row.kept); }, 10s));
        EXPECT_FALSE(PoolTour::showsTopLevel(PoolTour::kRenamedTo));
        EXPECT_FALSE(*row.typed && row.key == Qt::Key_Return && PoolTour::showsTopLevel(PoolTour::kRenamedFrom));
    });
    EXPECT_TRUE(savedAtTheTop(rig, row.kept, PoolTour::kRenamedTo));
}

INSTANTIATE_TEST_SUITE_P(
    PatchPool, PatchPoolUndo,
    ::testing::Values(UndoUnderTheTyping{"FromTheMenuThenReturn", true, "Xy", Qt::Key_Return, "Xy"},
                      UndoUnderTheTyping{"FromThePopoverThenEscape", false, "Xy", Qt::Key_Escape, PoolTour::kRenamedFrom},
                      UndoUnderTheTyping{"FromThePopoverUnderAnUntouchedEditor", false, "", 0, PoolTour::kRenamedFrom}),
    [](const ::testing::TestParamInfo<UndoUnderTheTyping>& info) { return std::string(info.param.name); });
