// An undo is a change of the pool like the gesture it takes back: a save that lands after it (a power-off's
// being written, a sleep's written before it) leaves the pool marked, and the quit writes what the undo
// put back. Each case runs the whole program and reads the library the quit left.

#include <QWidget>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DemoPool.h"
#include "HeldFiles.h"
#include "PoolTour.h"
#include "ProgramRig.h"
#include "app/shell/AppDelegate.h"
#include "library/CommonUtils.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

bool holds(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::vector<std::string> topLevelSaved(const ProgramRig& rig) { return ProgramRig::patchNamesIn(rig.library() / "Pool"); }

std::vector<std::string> groupSaved(const ProgramRig& rig)
{
    const fs::path group = ProgramRig::folderNamed(rig.library() / "Pool", DemoPool::kGroupName);
    return group.empty() ? std::vector<std::string>{} : ProgramRig::patchNamesIn(group);
}

std::vector<std::string> groupShown()
{
    for (const auto& entry : PoolTour::shownPool())
        if (entry.group && entry.name == DemoPool::kGroupName) return entry.children;
    return {};
}

// A gesture on the pool, how it shows done and undone, and whether the library holds it done or undone.
struct Gesture {
    const char* name;
    std::function<void(QWidget&)> act;
    std::function<bool()> done;
    std::function<bool()> undone;
    std::function<bool(const ProgramRig&)> savedDone;
    std::function<bool(const ProgramRig&)> savedUndone;
};

void PrintTo(const Gesture& gesture, std::ostream* out) { *out << gesture.name; }

Gesture rename()
{
    return {"Rename", PoolTour::renamePatch, PoolTour::patchRenamed,
            [] { return PoolTour::showsTopLevel(PoolTour::kRenamedFrom) && !PoolTour::patchRenamed(); },
            [](const ProgramRig& rig) { return holds(topLevelSaved(rig), PoolTour::kRenamedTo); },
            [](const ProgramRig& rig) {
                return holds(topLevelSaved(rig), PoolTour::kRenamedFrom) && !holds(topLevelSaved(rig), PoolTour::kRenamedTo);
            }};
}

// The group's last patch deleted; its name is read as the program starts.
Gesture deletion()
{
    auto deleted = std::make_shared<std::string>();
    auto count = std::make_shared<std::size_t>(0);
    return {"Delete",
            [deleted, count](QWidget& window) {
                const auto children = groupShown();
                if (children.empty()) return;
                *deleted = children.back();
                *count = children.size();
                PoolTour::deleteChildren(window, DemoPool::kGroupName, 1);
            },
            [count] { return *count > 0 && groupShown().size() == *count - 1; },
            [deleted, count] { return *count > 0 && groupShown().size() == *count && groupShown().back() == *deleted; },
            [deleted](const ProgramRig& rig) { return !holds(groupSaved(rig), *deleted); },
            [deleted](const ProgramRig& rig) { return !deleted->empty() && holds(groupSaved(rig), *deleted); }};
}

Gesture move()
{
    return {"Move", PoolTour::movePatchIntoGroup, PoolTour::patchMoved,
            [] { return PoolTour::showsTopLevel(PoolTour::kMovedPatch) && !PoolTour::patchMoved(); },
            [](const ProgramRig& rig) { return holds(groupSaved(rig), PoolTour::kMovedPatch); },
            [](const ProgramRig& rig) {
                return holds(topLevelSaved(rig), PoolTour::kMovedPatch) && !holds(groupSaved(rig), PoolTour::kMovedPatch);
            }};
}

std::string caseName(const ::testing::TestParamInfo<Gesture>& info) { return info.param.name; }

// Runs the program on `files` with `body` on the patch screen, then quits: the library holds the gesture
// undone, and no note of a cut run is left.
void runUndoing(const Gesture& gesture, const std::shared_ptr<held_files::HeldFiles>& files,
                const std::function<void(ProgramRig&, QWidget&)>& body)
{
    ProgramRig rig;
    files->unitFolder = (rig.root() / "Temp" / "Device").string();
    rig.setFiles(files);
    rig.runToTheEnd([&](ProgramRig& rig) {
        ASSERT_TRUE(rig.showPatchScreen());
        body(rig, rig.window());
        if (!::testing::Test::HasFatalFailure()) rig.quitWhenOffered();
    });
    EXPECT_TRUE(gesture.savedUndone(rig)) << "the library keeps the undone " << gesture.name;
    EXPECT_FALSE(fs::exists(rig.closingNote())) << "a note of a cut run was left";
    EXPECT_FALSE(files->save.wasTimedOut() || files->unitRemoval.wasTimedOut());
}

}  // namespace

// A power-off the system calls off: its save is being written when the gesture is undone, and lands
// holding the gesture; the quit then writes the pool as the undo left it and leaves no note of a cut run.
class UndoDuringAPowerOffsSave : public ::testing::TestWithParam<Gesture> {};

TEST_P(UndoDuringAPowerOffsSave, TheQuitWritesWhatTheUndoPutBack)
{
    const Gesture gesture = GetParam();
    auto files = std::make_shared<held_files::HeldFiles>();
    runUndoing(gesture, files, [&](ProgramRig& rig, QWidget& window) {
        gesture.act(window);
        ASSERT_TRUE(ProgramRig::waitUntil(gesture.done, 10s));
        files->armSave();
        CommonUtils::getInstance().powerOffNotification();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return files->save.isHeld(); }, 30s));
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        ASSERT_TRUE(ProgramRig::waitUntil(gesture.undone, 10s));
        files->save.release();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return !files->save.isHeld() && gesture.savedDone(rig); }, 30s));
        // The save's landing comes through the window's loop.
        ProgramRig::settle(300ms);
    });
}

INSTANTIATE_TEST_SUITE_P(Gestures, UndoDuringAPowerOffsSave, ::testing::Values(rename(), deletion()), caseName);

// With no unit connected: the gesture, a sleep whose save writes it, the wake, the undo, the quit. The
// gesture is made while the Disconnect's removal of the unit's folder is under way on another thread: a
// pool edit never keeps anything in that folder.
class UndoAfterASleepsSave : public ::testing::TestWithParam<Gesture> {};

TEST_P(UndoAfterASleepsSave, TheQuitWritesWhatTheUndoPutBack)
{
    const Gesture gesture = GetParam();
    auto files = std::make_shared<held_files::HeldFiles>();
    runUndoing(gesture, files, [&](ProgramRig& rig, QWidget& window) {
        files->unitRemoval.arm();
        ASSERT_TRUE(ProgramRig::choose("Disconnect"));
        ASSERT_TRUE(ProgramRig::offers("Connect", 30s));
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return files->unitRemoval.isHeld(); }, 30s));
        gesture.act(window);
        // Done, or refused with a sheet saying so: whichever comes, however long a loaded machine takes.
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return gesture.done() || ProgramRig::informationShown(); }, 60s));
        ASSERT_TRUE(gesture.done()) << ProgramRig::informationText();
        files->unitRemoval.release();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return rig.unitFolders().empty(); }, 30s));
        CommonUtils& utils = CommonUtils::getInstance();
        utils.receiveSleepNote();
        // Written, and its landing taken in by the window: the undo comes after the save.
        ASSERT_TRUE(ProgramRig::waitUntil(
            [&] { return gesture.savedDone(rig) && !AppDelegate::getInstance().isPatchPoolChanged(); }, 30s));
        utils.receiveWakeNote();
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        ASSERT_TRUE(ProgramRig::waitUntil(gesture.undone, 10s));
    });
}

INSTANTIATE_TEST_SUITE_P(Gestures, UndoAfterASleepsSave, ::testing::Values(rename(), move()), caseName);
