#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>

#include "app/main/CommonUtilsMainCoordinator.h"
#include "app/shell/UncaughtExceptionHook.h"
#include "support/library/PatchTransferFixture.h"

namespace fs = std::filesystem;
using sim::RequestKey;

namespace {

// The main window's adapter over the real coordinator and the simulated unit.
class MainCoordinatorAdapter : public PatchTransfer {
protected:
    void SetUp() override
    {
        PatchTransfer::SetUp();
        adapter = std::make_unique<CommonUtilsMainCoordinator>(
            *utils, CommonUtilsMainCoordinator::Shell{[this] { ++dialogsCleared; }, [this] { ended(); }});
    }
    void TearDown() override
    {
        adapter.reset();
        PatchTransfer::TearDown();
    }
    // What the program's end would find: the unit's first slot and whether the unit was let go.
    void ended()
    {
        ++terminated;
        const auto slot = unit.patches().patch(0, 0, 0);
        slotAtTheEnd = slot ? std::string(slot->begin(), slot->end()) : std::string();
        ejectsAtTheEnd = unit.device().requestCount(kEject);
    }
    // The closing eject asks the unit to leave editor mode.
    static constexpr RequestKey kEject = RequestKey::maker(0x53);
    std::unique_ptr<CommonUtilsMainCoordinator> adapter;
    std::atomic<int> dialogsCleared{0};
    std::atomic<int> terminated{0};
    std::string slotAtTheEnd;
    std::size_t ejectsAtTheEnd = 0;
};

TEST_F(MainCoordinatorAdapter, QuitDuringAWriteLetsItFinishThenEjectsThenEnds)
{
    const auto before = unit.device().requestCount(kEject);
    unit.delayReplies(RequestKey::maker(0x45), std::chrono::milliseconds(20));
    utils->writeToDeviceWithPatchGroup({edited(0, "Kept0"), edited(1, "Kept1"), edited(2, "Kept2")}, {0, 1, 2});
    ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(RequestKey::maker(0x45)) > 0; }));
    adapter->closeApp();
    ASSERT_TRUE(loop.runUntil([&] { return terminated.load() > 0; }));
    EXPECT_NE(slotAtTheEnd.find("Kept0"), std::string::npos);
    for (std::int32_t patch = 0; patch < 3; ++patch) {
        const auto slot = unit.patches().patch(0, patch / 3, patch % 3);
        ASSERT_TRUE(slot);
        EXPECT_NE(std::string(slot->begin(), slot->end()).find("Kept" + std::to_string(patch)), std::string::npos);
    }
    EXPECT_GT(ejectsAtTheEnd, before) << "the unit was let go before the end";
    EXPECT_EQ(dialogsCleared, 1);
    settle();
    EXPECT_EQ(terminated, 1);
}

TEST_F(MainCoordinatorAdapter, QuitWithAUnitThatNeverAnswersEndsWithinTheWatchdog)
{
    unit.faultAt(RequestKey::maker(0x45), 1, sim::DeviceUnit::Fault::SilentForGood);
    utils->writeToDeviceWithPatchItem(edited(0, "Never"), 0);
    ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(RequestKey::maker(0x45)) > 0; }));
    adapter->closeApp();
    settle();
    EXPECT_EQ(terminated, 0);
    for (int second = 0; second < CommonUtils::kQuitWatchdog.count() && terminated == 0; ++second) {
        loop.advance(std::chrono::seconds(1));
        settle();
    }
    EXPECT_EQ(terminated, 1);
}

TEST_F(MainCoordinatorAdapter, TheDeviceFoldersGoAndAPatchCopyIsWritten)
{
    // The program's transport dumps into the same root; here it has one of its own.
    const fs::path devicePatch = utils->pathUnderRoot(CommonUtils::kDevicePatch);
    fs::create_directories(devicePatch);
    fs::copy_file(slotPath(0), devicePatch / "0.qptc");
    ASSERT_TRUE(fs::exists(utils->pathUnderRoot(CommonUtils::kTempDevice)));
    const std::string copy = rootFolder + "/Temp/Local/Copy.qptc";
    adapter->writeFilePatchWithPath(slotPath(1), copy, false, false);
    EXPECT_EQ(utils->getPatchItemWithPath(copy)->patchName, dumpedNames[1]);
    adapter->removeDeviceDataFolder();
    // The removal runs on the coordinator's queue, in order with the unit's connection states.
    settle();
    EXPECT_FALSE(fs::exists(devicePatch));
    EXPECT_FALSE(fs::exists(utils->pathUnderRoot(CommonUtils::kTempDevice)));
}

// Even with the coordinator's own queue stuck in the task that failed.
TEST_F(MainCoordinatorAdapter, TheCrashHooksEjectGoesOutWhileTheCoordinatorsQueueIsStuck)
{
    std::promise<void> release;
    std::atomic<bool> stuck{false};
    utils->addRequest(CommonUtils::RequestKind::DeleteEffect, [&, wait = release.get_future().share()] {
        stuck = true;
        wait.wait();
    });
    ASSERT_TRUE(loop.runUntil([&] { return stuck.load(); }));
    const auto before = unit.device().requestCount(kEject);
    EXPECT_TRUE(UncaughtExceptionHook::forceEjectWithin(*adapter, UncaughtExceptionHook::kEjectTimeLimit));
    midi.waitUntilDelivered();
    EXPECT_EQ(unit.device().requestCount(kEject), before + 1);
    release.set_value();
    settle();
}

}  // namespace
