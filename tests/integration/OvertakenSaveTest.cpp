// A save that fails on a full store while a change overtakes it: a new save is asked at once and its
// failure told while the program runs; a run killed after that comes back with its edits kept.

#include <QWidget>

#include <algorithm>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "DemoPool.h"
#include "KeptRun.h"
#include "PoolTour.h"
#include "ProgramRig.h"
#include "SaveWatch.h"
#include "WindowGestures.h"
#include "app/shell/AppDelegate.h"
#include "app/views/InterfaceTexts.h"
#include "library/CommonUtils.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using save_watch::SaveWatch;

using kept_run::readText;
using kept_run::writeText;

const std::string& toldNotSaved()
{
    static const std::string words = [] {
        const std::string told = InterfaceTexts::localizedString("Main_PatchPoolNotSaved").toStdString();
        return told.substr(0, told.find('('));
    }();
    return words;
}

// A rename, Disconnect, whose save finds no room, and a patch moved into a group while it is written:
// the failure is told while the program goes on, the pool marked changed.
void renameDisconnectAndMoveOnAFullStore(ProgramRig& rig, SaveWatch& store)
{
    QWidget& window = rig.window();
    ASSERT_TRUE(rig.showPatchScreen());
    store.atStaging = true;
    store.refuseStaging = true;
    ASSERT_TRUE(save_watch::moveWhileADisconnectsSaveIsHeld(window, store));
    store.release();
    ASSERT_TRUE(ProgramRig::waitUntil(ProgramRig::informationShown, 30s)) << "the failure was told to nobody";
    EXPECT_EQ(ProgramRig::informationText().substr(0, toldNotSaved().size()), toldNotSaved());
    EXPECT_TRUE(AppDelegate::getInstance().isPatchPoolChanged());
}

}  // namespace

// The run before the next test's, killed once the failure was told.
TEST(OvertakenSave, DISABLED_ARunKilledAfterItsSaveFailed)
{
    auto store = std::make_shared<SaveWatch>();
    ProgramRig rig;
    rig.setFiles(store);
    const fs::path scratch = rig.scratch();
    rig.run([&](ProgramRig& rig) {
        renameDisconnectAndMoveOnAFullStore(rig, *store);
        if (::testing::Test::HasFatalFailure() || ::testing::Test::HasNonfatalFailure()) return;
        writeText(scratch / "shown.txt", kept_run::poolText(PoolTour::shownPool()));
        writeText(scratch / "killed", "");
        ProgramRig::waitUntil([] { return false; }, 60s);
    });
}

// The failure is told while the program runs, and noted for a run cut after it; with room again a sleep's
// save writes the pool as it shows and takes the note away.
TEST(OvertakenSave, AFailureAChangeOvertookIsToldAtOnceAndTheNextSaveWritesThePool)
{
    auto store = std::make_shared<SaveWatch>();
    ProgramRig rig;
    rig.setFiles(store);
    std::string shown;
    const fs::path note = rig.root() / "Temp" / ".closing-pool";
    rig.runToTheEnd([&](ProgramRig& rig) {
        renameDisconnectAndMoveOnAFullStore(rig, *store);
        ProgramRig::closeInformation();
        EXPECT_TRUE(fs::exists(note));
        shown = kept_run::poolText(PoolTour::shownPool());
        store->refuseStaging = false;
        CommonUtils::getInstance().receiveSleepNote();
        EXPECT_TRUE(ProgramRig::waitUntil([&] { return !fs::exists(note); }, 30s));
        CommonUtils::getInstance().receiveWakeNote();
    });
    EXPECT_FALSE(shown.empty());
    const auto top = ProgramRig::patchNamesIn(rig.root() / "QFXMacApplication" / "Patch" / "Pool");
    EXPECT_NE(std::find(top.begin(), top.end(), PoolTour::kRenamedTo), top.end());
    EXPECT_EQ(std::find(top.begin(), top.end(), PoolTour::kMovedPatch), top.end());
}

// Killed after the failure was told: the next start shows the pool as the killed run left it, and says so.
TEST(OvertakenSave, ARunKilledAfterItsSaveFailedKeepsItsEdits)
{
    ProgramRig rig;
    ASSERT_EQ(rig.setupError(), "");
    ASSERT_TRUE(rig.runEarlierRunKilledAt("OvertakenSave.DISABLED_ARunKilledAfterItsSaveFailed", "killed"));
    const std::string left = readText(rig.scratch() / "shown.txt");
    ASSERT_NE(left.find(PoolTour::kRenamedTo), std::string::npos);
    std::string shown;
    rig.runToTheEnd([&](ProgramRig& rig) {
        ASSERT_TRUE(kept_run::keptPoolToldAndClosed(rig));
        ProgramRig::settle(300ms);
        ProgramRig::dismissUpdateNotice();
        shown = kept_run::poolText(PoolTour::shownPool());
        ASSERT_TRUE(ProgramRig::waitUntil(
            [&] { return WindowGestures::enabledAction(rig.window(), QStringLiteral("Quit")) != nullptr; }, 20s));
        rig.quitFromMenu();
    });
    EXPECT_EQ(shown, left);
    const auto group = ProgramRig::folderNamed(rig.root() / "QFXMacApplication" / "Patch" / "Pool", DemoPool::kGroupName);
    const auto children = ProgramRig::patchNamesIn(group);
    EXPECT_NE(std::find(children.begin(), children.end(), PoolTour::kMovedPatch), children.end());
}
