// An undo is a change of the pool like the gesture it takes back: a save that lands after it (a power-off's
// being written, a sleep's written before it) leaves the pool marked, and the quit writes what the undo
// put back. Each case runs the whole program and reads the library the quit left.

#include <QAction>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DemoPool.h"
#include "PoolTour.h"
#include "ProgramRig.h"
#include "SaveWatch.h"
#include "UndoTour.h"
#include "WindowGestures.h"
#include "app/shell/AppDelegate.h"
#include "library/CommonUtils.h"
#include "platform/files/LocalFileManager.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

fs::path libraryPool(const ProgramRig& rig) { return rig.root() / "QFXMacApplication" / "Patch" / "Pool"; }

bool holds(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::vector<std::string> topLevelSaved(const ProgramRig& rig) { return ProgramRig::patchNamesIn(libraryPool(rig)); }

std::vector<std::string> groupSaved(const ProgramRig& rig)
{
    const fs::path group = ProgramRig::folderNamed(libraryPool(rig), DemoPool::kGroupName);
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


// Holds the removal of the unit's working folder, once armed, until the test lets it go; a folder made in
// it meanwhile lets the removal run to its end first, as the removal's thread may: a step that keeps a
// file in the unit's folder then finds it gone. A removal nobody lets go is let go after 30 s.
struct UnitFolderHold : platform::LocalFileManager {
    bool removeItem(const std::string& path, platform::Error* error) override
    {
        if (!isUnitFolder(path)) return LocalFileManager::removeItem(path, error);
        {
            std::unique_lock lock(mutex);
            if (armed) {
                armed = false;
                held = true;
                changed.notify_all();
                changed.wait_for(lock, 30s, [this] { return released; });
            }
        }
        const bool removed = LocalFileManager::removeItem(path, error);
        std::lock_guard lock(mutex);
        if (held) {
            held = false;
            done = true;
            changed.notify_all();
        }
        return removed;
    }
    bool createDirectory(const std::string& path, bool intermediates, platform::Error* error) override
    {
        const bool made = LocalFileManager::createDirectory(path, intermediates, error);
        if (path.rfind(unitFolder + "/", 0) == 0) {
            std::unique_lock lock(mutex);
            if (held) {
                released = true;
                changed.notify_all();
                changed.wait_for(lock, 10s, [this] { return done; });
            }
        }
        return made;
    }
    bool isUnitFolder(const std::string& path) const { return path == unitFolder; }
    void arm(const std::string& folder)
    {
        std::lock_guard lock(mutex);
        unitFolder = folder;
        armed = true;
    }
    bool isHeld()
    {
        std::lock_guard lock(mutex);
        return held;
    }
    void release()
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::string unitFolder;
    bool armed = false;
    bool held = false;
    bool released = false;
    bool done = false;
};

void quitOnceEnabled(ProgramRig& rig, QWidget& window)
{
    ASSERT_TRUE(ProgramRig::waitUntil([&] { return WindowGestures::enabledAction(window, QStringLiteral("Quit")) != nullptr; }, 20s))
        << ProgramRig::informationText();
    rig.quitFromMenu();
}

std::string caseName(const ::testing::TestParamInfo<Gesture>& info) { return info.param.name; }

}  // namespace

// A power-off the system calls off: its save is being written when the gesture is undone, and lands
// holding the gesture; the quit then writes the pool as the undo left it and leaves no note of a cut run.
class UndoDuringAPowerOffsSave : public ::testing::TestWithParam<Gesture> {};

TEST_P(UndoDuringAPowerOffsSave, TheQuitWritesWhatTheUndoPutBack)
{
    const Gesture gesture = GetParam();
    auto save = std::make_shared<save_watch::SaveWatch>();
    ProgramRig rig;
    rig.setFiles(save);
    rig.runToTheEnd([&](ProgramRig& rig) {
        QWidget& window = rig.window();
        ASSERT_TRUE(rig.showPatchScreen());
        gesture.act(window);
        ASSERT_TRUE(ProgramRig::waitUntil(gesture.done, 10s));
        save->arm();
        CommonUtils::getInstance().powerOffNotification();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return save->isHeld(); }, 30s));
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        ASSERT_TRUE(ProgramRig::waitUntil(gesture.undone, 10s));
        save->release();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return !save->isHeld() && gesture.savedDone(rig); }, 30s));
        // The save's landing comes through the window's loop.
        ProgramRig::settle(300ms);
        quitOnceEnabled(rig, window);
    });
    EXPECT_TRUE(gesture.savedUndone(rig)) << "the library keeps the undone " << gesture.name;
    EXPECT_FALSE(fs::exists(rig.root() / "Temp" / ".closing-pool"));
}

INSTANTIATE_TEST_SUITE_P(Gestures, UndoDuringAPowerOffsSave, ::testing::Values(rename(), deletion()), caseName);

// With no unit connected: the gesture, a sleep whose save writes it, the wake, the undo, the quit. The
// gesture is made while the Disconnect's removal of the unit's folder is under way on another thread: a
// pool edit never keeps anything in that folder.
class UndoAfterASleepsSave : public ::testing::TestWithParam<Gesture> {};

TEST_P(UndoAfterASleepsSave, TheQuitWritesWhatTheUndoPutBack)
{
    const Gesture gesture = GetParam();
    auto unitFolder = std::make_shared<UnitFolderHold>();
    ProgramRig rig;
    rig.setFiles(unitFolder);
    rig.runToTheEnd([&](ProgramRig& rig) {
        QWidget& window = rig.window();
        ASSERT_TRUE(rig.showPatchScreen());
        unitFolder->arm((rig.root() / "Temp" / "Device").string());
        if (QAction* disconnect = WindowGestures::enabledAction(window, QStringLiteral("Disconnect"))) disconnect->trigger();
        ASSERT_TRUE(ProgramRig::waitUntil(
            [&] { return WindowGestures::enabledAction(window, QStringLiteral("Connect")) != nullptr; }, 30s));
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return unitFolder->isHeld(); }, 30s));
        gesture.act(window);
        // Done, or refused with a sheet saying so: whichever comes, however long a loaded machine takes.
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return gesture.done() || ProgramRig::informationShown(); }, 60s));
        ASSERT_TRUE(gesture.done()) << ProgramRig::informationText();
        unitFolder->release();
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return rig.unitFolders().empty(); }, 30s));
        CommonUtils& utils = CommonUtils::getInstance();
        utils.receiveSleepNote();
        // Written, and its landing taken in by the window: the undo comes after the save.
        ASSERT_TRUE(ProgramRig::waitUntil(
            [&] { return gesture.savedDone(rig) && !AppDelegate::getInstance().isPatchPoolChanged(); }, 30s));
        utils.receiveWakeNote();
        ASSERT_TRUE(ProgramRig::undoFromThePopover(window));
        ASSERT_TRUE(ProgramRig::waitUntil(gesture.undone, 10s));
        quitOnceEnabled(rig, window);
    });
    EXPECT_TRUE(gesture.savedUndone(rig)) << "the library keeps the undone " << gesture.name;
}

INSTANTIATE_TEST_SUITE_P(Gestures, UndoAfterASleepsSave, ::testing::Values(rename(), move()), caseName);
