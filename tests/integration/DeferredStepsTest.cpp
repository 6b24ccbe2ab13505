// Steps that meet a drop's copies under way are ordered behind them without holding the window.

#include <signal.h>

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include <QAction>

#include <gtest/gtest.h>

#include "DemoUnit.h"
#include "HeldFiles.h"
#include "PoolTour.h"
#include "ProgramRig.h"
#include "WindowGestures.h"
#include "app/shell/AppDelegate.h"
#include "library/CommonUtils.h"

using namespace std::chrono_literals;

namespace {

// How the unit is lost during a drop's copies, and how the run goes on once the unit connected again waits
// behind the last one's removal.
enum class Loss { Sleep, Unplug };
enum class Then { CopiesLand, PulledOutMeanwhile, SleepsAgainMeanwhile, QuitFromTheMenu, TerminationSignal };

struct Walk {
    const char* name;
    Loss loss;
    Then then;
};

void PrintTo(const Walk& walk, std::ostream* out) { *out << walk.name; }

}  // namespace

// A unit connected during a drop's copies (a sleep, Connect at the wake; or pulled out and plugged in
// again) is let go at once, the window free; its folder goes once the copies have landed, every dropped
// patch is kept, and the unit connected again while the copies are held is read only after that removal,
// into a folder of its own. Or, the unit lost again or the run ended while that connection waits.
class DeferredSteps : public ::testing::TestWithParam<Walk> {};

TEST_P(DeferredSteps, TheUnitIsReadBehindTheRemovalOrLetGoAtTheEnd)
{
    const Walk& walk = GetParam();
    auto held = std::make_shared<held_files::HeldFiles>();
    ProgramRig rig;
    rig.setFiles(held);
    std::size_t letGoBefore = 0;
    std::size_t letGoAtEnd = 0;
    rig.atUnitEnd([&](DemoUnit& unit) { letGoAtEnd = unit.unit().device().requestCount(sim::RequestKey::maker(0x53)); });
    rig.runToTheEnd([&](ProgramRig& rig) {
        ASSERT_TRUE(rig.showPatchScreen());
        const std::vector<std::string> unitFolders = rig.unitFolders();
        ASSERT_FALSE(unitFolders.empty());
        const std::size_t before = held_files::patchesShown(PoolTour::shownPool());
        ASSERT_FALSE(held_files::dropHeldPatches(rig, *held, before).empty());
        auto& device = rig.unit().unit().device();

        if (walk.loss == Loss::Sleep) CommonUtils::getInstance().receiveSleepNote();
        else device.unplug();
        ASSERT_TRUE(ProgramRig::waitUntil([] { return !AppDelegate::getInstance().isDeviceConnected(); }, 20s));
        EXPECT_FALSE(held->copies.isReleased()) << "the unit let go waited for the copies on the main thread";
        EXPECT_EQ(rig.unitFolders(), unitFolders) << "the unit's folders went while copies were under way";
        ASSERT_TRUE(ProgramRig::waitUntil(ProgramRig::informationShown, 10s) || walk.loss == Loss::Sleep);
        ProgramRig::closeAnyInformation();
        const std::size_t greeted = device.requestCount(sim::RequestKey::identity());
        if (walk.loss == Loss::Sleep) CommonUtils::getInstance().receiveWakeNote();
        ASSERT_TRUE(ProgramRig::offers("Connect", 10s));
        if (walk.loss == Loss::Sleep) ProgramRig::choose("Connect");
        else device.plugIn();
        // The unit is greeted once the last one's let-go has run its course; its connection then waits.
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return device.requestCount(sim::RequestKey::identity()) > greeted; }, 10s));
        ProgramRig::settle(500ms);
        EXPECT_FALSE(held->copies.isReleased());
        EXPECT_FALSE(AppDelegate::getInstance().isDeviceConnected()) << "a unit was read before the last one's folders went";

        letGoBefore = device.requestCount(sim::RequestKey::maker(0x53));
        if (walk.then == Then::QuitFromTheMenu || walk.then == Then::TerminationSignal) {
            // The end's first moment lets the copies go.
            held->releaseAtQuit = true;
            if (walk.then == Then::QuitFromTheMenu) rig.quitFromMenu();
            else rig.endBySignal(SIGTERM);
            return;
        }
        const std::size_t readsBefore = rig.unit().patchRequests();
        int toldGone = 0;
        if (walk.then == Then::PulledOutMeanwhile) {
            device.unplug();
            ASSERT_TRUE(ProgramRig::waitUntil(ProgramRig::informationShown, 10s));
            toldGone += ProgramRig::closeAnyInformation();
        } else if (walk.then == Then::SleepsAgainMeanwhile) {
            // The unit the window never showed is let go by the sleep, which lasts past the let-go.
            CommonUtils::getInstance().receiveSleepNote();
            ProgramRig::settle(1500ms);
            CommonUtils::getInstance().receiveWakeNote();
        }
        held->copies.release();
        ASSERT_TRUE(ProgramRig::waitUntil(PoolTour::poolAtRest, 60s));
        EXPECT_EQ(held_files::patchesShown(PoolTour::shownPool()), before + 300);
        if (walk.then == Then::PulledOutMeanwhile || walk.then == Then::SleepsAgainMeanwhile) {
            // The unit that went while its connection waited is not read, and its going is told once
            // (a sleep lets go a unit the window never showed without a word).
            ProgramRig::settle(1500ms);
            EXPECT_FALSE(AppDelegate::getInstance().isDeviceConnected()) << "a unit gone shows as connected";
            toldGone += ProgramRig::closeAnyInformation();
            EXPECT_EQ(toldGone, walk.then == Then::PulledOutMeanwhile ? 1 : 0);
            ASSERT_TRUE(ProgramRig::offers("Connect", 10s));
            if (walk.then == Then::PulledOutMeanwhile) device.plugIn();
            else ProgramRig::choose("Connect");
        }
        ASSERT_TRUE(rig.readAgain(readsBefore)) << "the unit connected again was never read";
        EXPECT_TRUE(AppDelegate::getInstance().isDeviceConnected());
        EXPECT_EQ(rig.unitFolders(), unitFolders) << "the last unit's removal took the new unit's folders";
        ProgramRig::closeAnyInformation();
    });
    EXPECT_FALSE(held->copies.wasTimedOut());
    // Whichever way the run ends, the unit connected last leaves its editing mode.
    EXPECT_GT(letGoAtEnd, letGoBefore) << "the unit connected meanwhile was not let go at the end";
}

INSTANTIATE_TEST_SUITE_P(
    Walks, DeferredSteps,
    ::testing::Values(Walk{"ASleepThenConnectAtTheWake", Loss::Sleep, Then::CopiesLand},
                      Walk{"PulledOutThenPluggedIn", Loss::Unplug, Then::CopiesLand},
                      Walk{"PulledOutWhileItsConnectionWaits", Loss::Sleep, Then::PulledOutMeanwhile},
                      Walk{"SleptAgainWhileItsConnectionWaits", Loss::Sleep, Then::SleepsAgainMeanwhile},
                      Walk{"QuitFromTheMenu", Loss::Sleep, Then::QuitFromTheMenu},
                      Walk{"TerminationSignal", Loss::Sleep, Then::TerminationSignal}),
    [](const ::testing::TestParamInfo<Walk>& info) { return std::string(info.param.name); });
