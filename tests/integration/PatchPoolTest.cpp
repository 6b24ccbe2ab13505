// The patch pool end to end: its edits reach the working copy on disk at once and the saved library at
// the program's end, and an undo puts a deleted patch back.

#include <QApplication>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "DemoPool.h"
#include "DemoUnit.h"
#include "MenuTour.h"
#include "PoolTour.h"
#include "ProgramRig.h"
#include "UndoTour.h"
#include "WindowGestures.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

bool holds(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

TEST(PatchPool, RenameSaveIntoAGroupNewGroupMoveDeleteAndUndoReachTheFiles)
{
    ProgramRig rig;
    ASSERT_EQ(rig.setupError(), "");
    std::vector<std::string> savedFromUnit;
    const int status = rig.run([&](ProgramRig& rig) {
        QWidget& window = rig.window();
        ASSERT_TRUE(rig.showPatchScreen());
        const fs::path local = rig.root() / "Temp" / "Local";
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return holds(ProgramRig::patchNamesIn(local), "Warm Pad"); }));

        PoolTour::renamePatch(window);
        ASSERT_TRUE(ProgramRig::waitUntil(PoolTour::patchRenamed, 10s));
        EXPECT_TRUE(ProgramRig::waitUntil([&] {
            const auto names = ProgramRig::patchNamesIn(local);
            return holds(names, PoolTour::kRenamedTo) && !holds(names, PoolTour::kRenamedFrom);
        }, 10s));

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
        EXPECT_TRUE(ProgramRig::waitUntil([&] {
            return holds(ProgramRig::patchNamesIn(group), PoolTour::kMovedPatch) &&
                   !holds(ProgramRig::patchNamesIn(local), PoolTour::kMovedPatch);
        }, 10s));

        ASSERT_TRUE(ProgramRig::waitUntil([&] {
            MenuTour::deleteFromPoolMenu(window);
            return MenuTour::patchDeleted();
        }, 10s));
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return !holds(ProgramRig::patchNamesIn(local), PoolTour::kRenamedTo); }, 10s));

        ASSERT_TRUE(ProgramRig::waitUntil([&] {
            UndoTour::openUndoPopover(window);
            return UndoTour::undoPopoverShown();
        }, 10s));
        UndoTour::undoFromPopover(window);
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return holds(ProgramRig::patchNamesIn(local), PoolTour::kRenamedTo); }, 10s));
        EXPECT_TRUE(ProgramRig::waitUntil([] { return !MenuTour::patchDeleted(); }, 10s));
    });
    EXPECT_EQ(status, 0);

    // What the program saved as it ended is the library the next run opens.
    const fs::path pool = rig.root() / "QFXMacApplication" / "Patch" / "Pool";
    const auto top = ProgramRig::patchNamesIn(pool);
    EXPECT_TRUE(holds(top, PoolTour::kRenamedTo)) << testing::PrintToString(top);
    EXPECT_FALSE(holds(top, PoolTour::kRenamedFrom));
    EXPECT_FALSE(holds(top, PoolTour::kMovedPatch));
    const auto group = ProgramRig::patchNamesIn(ProgramRig::folderNamed(pool, DemoPool::kGroupName));
    EXPECT_TRUE(holds(group, PoolTour::kMovedPatch)) << testing::PrintToString(group);
    for (const auto& name : savedFromUnit) EXPECT_TRUE(holds(group, name)) << name;
    EXPECT_FALSE(ProgramRig::folderNamed(pool, "New Patch Group 1").empty());
}
