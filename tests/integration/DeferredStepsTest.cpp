// Steps that meet a drop's copies under way are ordered behind them without holding the window.

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QAction>

#include <gtest/gtest.h>

#include "DemoCatalogue.h"
#include "DragTour.h"
#include "PoolTour.h"
#include "ProgramRig.h"
#include "WindowGestures.h"
#include "app/shell/AppDelegate.h"
#include "library/CommonUtils.h"
#include "platform/files/LocalFileManager.h"
#include "support/library/LibraryFiles.h"

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> writeDropFiles(const fs::path& folder, const std::string& stem, int count)
{
    const std::uint32_t type = DemoCatalogue::models().front().effects[0].type;
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        const std::string name = stem + std::to_string(1000 + i);
        const std::string path = (folder / (name + ".qptc")).string();
        const Bytes bytes = library_files::patchFile(name, {type});
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
        paths.push_back(path);
    }
    return paths;
}

std::size_t patchesShown(const std::vector<PoolTour::Shown>& pool)
{
    std::size_t count = 0;
    for (const auto& entry : pool) count += entry.group ? entry.children.size() : 1;
    return count;
}

// The pool's queue holds its first copy of a "Held" file until released; a main thread that waits for it
// lets it go after 30 s, which the test then sees.
struct HeldCopies : platform::LocalFileManager {
    bool copyItem(const std::string& from, const std::string& to, platform::Error* error,
                  platform::Durability durability) override
    {
        if (fs::path(from).filename().string().rfind("Held", 0) == 0 && std::this_thread::get_id() != mainThread) {
            std::unique_lock lock(mutex);
            if (!released && arrived++ == 0) {
                changed.notify_all();
                if (!changed.wait_for(lock, 30s, [this] { return released; })) released = timedOut = true;
            }
        }
        return LocalFileManager::copyItem(from, to, error, durability);
    }
    bool waitForTheFirst()
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 30s, [this] { return arrived > 0; });
    }
    void release()
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    bool wasTimedOut()
    {
        std::lock_guard lock(mutex);
        return timedOut;
    }
    bool stillHeld()
    {
        std::lock_guard lock(mutex);
        return !released;
    }
    const std::thread::id mainThread = std::this_thread::get_id();
    std::mutex mutex;
    std::condition_variable changed;
    int arrived = 0;
    bool released = false;
    bool timedOut = false;
};

void closeAnyInformation()
{
    while (ProgramRig::informationShown()) ProgramRig::closeInformation();
}

}  // namespace

// A sleep with the unit connected during a drop's copies lets the unit go at once, the window free; the
// unit's folder goes once the copies have landed, every dropped patch is kept, and the unit connected
// again at the wake (while the copies are still held) is read only after that removal, into a folder of
// its own.
TEST(DeferredSteps, ASleepDuringADropsCopiesLetsTheUnitGoWithTheWindowFree)
{
    auto held = std::make_shared<HeldCopies>();
    ProgramRig rig;
    rig.setFiles(held);
    rig.runToTheEnd([&](ProgramRig& rig) {
        QWidget& window = rig.window();
        ASSERT_TRUE(rig.showPatchScreen());
        const std::vector<std::string> unitFolders = rig.unitFolders();
        ASSERT_FALSE(unitFolders.empty());
        const std::size_t before = patchesShown(PoolTour::shownPool());
        DragTour::dropFilesOnPool(window, writeDropFiles(rig.scratch(), "Held", 300));
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return patchesShown(PoolTour::shownPool()) == before + 300; }, 60s));
        ASSERT_TRUE(held->waitForTheFirst());

        CommonUtils::getInstance().receiveSleepNote();
        ASSERT_TRUE(ProgramRig::waitUntil([] { return !AppDelegate::getInstance().isDeviceConnected(); }, 20s));
        EXPECT_TRUE(held->stillHeld()) << "the unit let go waited for the copies on the main thread";
        EXPECT_EQ(rig.unitFolders(), unitFolders) << "the unit's folders went while copies were under way";
        closeAnyInformation();
        CommonUtils::getInstance().receiveWakeNote();
        ASSERT_TRUE(ProgramRig::waitUntil(
            [&] { return WindowGestures::enabledAction(window, QStringLiteral("Connect")) != nullptr; }, 10s));
        WindowGestures::enabledAction(window, QStringLiteral("Connect"))->trigger();
        ProgramRig::settle(500ms);
        EXPECT_TRUE(held->stillHeld());
        EXPECT_FALSE(AppDelegate::getInstance().isDeviceConnected()) << "a unit was read before the last one's folders went";

        held->release();
        ASSERT_TRUE(ProgramRig::waitUntil(PoolTour::poolAtRest, 60s));
        EXPECT_EQ(patchesShown(PoolTour::shownPool()), before + 300);
        ASSERT_TRUE(ProgramRig::waitUntil([&] { return rig.connectedAndRead(); }, 60s));
        EXPECT_EQ(rig.unitFolders(), unitFolders) << "the last unit's removal took the new unit's folders";
        closeAnyInformation();
        EXPECT_FALSE(held->wasTimedOut());
    });
}
