// The window removes the unit's folders when it handles the unit's loss, which may be late: the unit can be
// back (plugged in again, connected again) and its next connection reading into those folders by then.
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "support/library/CoordinatorFixture.h"

namespace fs = std::filesystem;

namespace {

enum class Loss { Unplugged, Ejected };
enum class Landing { Before, WhenToldConnected, WhenListStored, WhenReadEnded };

using Row = std::tuple<Loss, Landing>;

// Stands in for the window: it removes the unit's folders while handling a loss (as its loss and eject
// handlers do), after `busy` has run there (the window's turn coming late, its queue turning meanwhile).
class WindowStandIn final : public CommonUtilsDelegate {
public:
    std::function<void()> busy;
    std::function<void()> removeFolders;
    int connects = 0;
    int reads = 0;
    int losses = 0;

    void deviceConnectWithState(std::int32_t state) override { connects += state == 1 ? 1 : 0; }
    void patchListFromDevice(const Items& /*patches*/, const std::vector<std::string>& /*offsets*/) override { ++reads; }
    void ejectDeviceWithState(std::int32_t state) override
    {
        if (state == 1) lose();
    }
    void deviceDisonnect() override { lose(); }
    void deviceLostConnectOrNoReply() override { lose(); }
    void deviceLetGo() override { lose(); }

private:
    void lose()
    {
        ++losses;
        if (busy) busy();
        removeFolders();
    }
};

std::string rowName(const ::testing::TestParamInfo<Row>& info)
{
    static const char* const losses[] = {"Unplugged", "Ejected"};
    static const char* const landings[] = {"BeforeTheUnitIsBack", "AsTheNextConnectionIsTold", "OnceTheNextListIsStored",
                                          "AfterTheNextRead"};
    return std::string(losses[int(std::get<0>(info.param))]) + "Removed" + landings[int(std::get<1>(info.param))];
}

// A disk on which the pool's judgement looks at the files of one folder only when the test lets it: first
// none, then (`open`) all but `first`, which it looks at last (`last`), so the judgement lands only then.
struct HeldJudgement : platform::LocalFileManager {
    std::optional<platform::FileStamp> fileStamp(const std::string& path) override
    {
        if (path.rfind(folder, 0) == 0) {
            std::unique_lock lock(mutex);
            ++arrived;
            changed.wait_for(lock, std::chrono::seconds(20), [&] { return path == first ? last : open; });
        }
        return LocalFileManager::fileStamp(path);
    }
    bool anyArrived()
    {
        std::lock_guard lock(mutex);
        return arrived > 0;
    }
    void let(bool HeldJudgement::*which)
    {
        std::lock_guard lock(mutex);
        this->*which = true;
        changed.notify_all();
    }
    std::string folder;
    std::string first;
    std::mutex mutex;
    std::condition_variable changed;
    int arrived = 0;
    bool open = false;
    bool last = false;
};

}  // namespace

class UnitFolderRemoval : public Coordinator, public ::testing::WithParamInterface<Row> {
protected:
    ~UnitFolderRemoval() override
    {
        held.let(&HeldJudgement::open);
        held.let(&HeldJudgement::last);
        utils.reset();  // its queues use the disk
    }
    fs::path deviceFolder() const { return root / "PEXO Rigmora/Temp/Device"; }
    fs::path storedList() const { return deviceFolder() / "FLST_SEQ.QT2"; }
    fs::path dumpedPatches() const { return deviceFolder() / "Patch"; }
    bool dumped() const
    {
        std::error_code error;
        return fs::is_directory(dumpedPatches(), error) && !fs::is_empty(dumpedPatches(), error);
    }
    // Connected and read, the stand-in for the window told from here on.
    void connectWithTheWindow()
    {
        start(held);
        // With the effect store in place a connection after a loss or an eject reads at once.
        fs::create_directories(utils->pathUnderRoot(CommonUtils::kStoreEffect));
        connect();
        ASSERT_TRUE(fs::exists(storedList()));
        ASSERT_TRUE(dumped());
        window.removeFolders = [&] { utils->removeDeviceDataFolderAfterPoolWork(); };
        utils->setDelegate(&window);
    }
    void comeBack(Loss loss)
    {
        if (loss == Loss::Unplugged) unit.device().plugIn();
        else utils->connectDevice();
    }
    // The next connection read, and nothing of it lost.
    void expectTheNextConnectionKept()
    {
        ASSERT_TRUE(loop.runUntil([&] { return window.reads == 1; }));
        settle();
        EXPECT_EQ(window.connects, 1);
        EXPECT_EQ(window.losses, 1) << "the next connection was told lost";
        EXPECT_EQ(files.readFile(storedList().string()), unit.files().file("FLST_SEQ.QT2"));
        EXPECT_TRUE(dumped()) << "the next connection's patches are gone";
        utils->setDelegate(&recorder);
    }
    HeldJudgement held;
    WindowStandIn window;
};

TEST_P(UnitFolderRemoval, TheNextConnectionKeepsItsFolders)
{
    const auto [loss, landing] = GetParam();
    connectWithTheWindow();
    if (landing != Landing::Before) {
        window.busy = [&, loss = loss, landing = landing] {
            comeBack(loss);
            const bool reached = loop.runUntil([&] {
                switch (landing) {
                case Landing::WhenToldConnected: return window.connects == 1;
                case Landing::WhenListStored: return window.connects == 1 && fs::exists(storedList());
                case Landing::WhenReadEnded:
                case Landing::Before: break;
                }
                return window.reads == 1 && dumped();
            });
            ASSERT_TRUE(reached) << "the next connection did not get there";
        };
    }
    if (loss == Loss::Unplugged) unit.device().unplug();
    else utils->ejectDeviceWithPatchList({}, {});
    ASSERT_TRUE(loop.runUntil([&] { return window.losses == 1; }));
    if (landing == Landing::Before) {
        settle();
        // The removal still happens for the connection that was lost.
        EXPECT_FALSE(fs::exists(deviceFolder()));
        comeBack(loss);
    }
    expectTheNextConnectionKept();
}

INSTANTIATE_TEST_SUITE_P(LossesAndLandings, UnitFolderRemoval,
                         ::testing::Combine(::testing::Values(Loss::Unplugged, Loss::Ejected),
                                            ::testing::Values(Landing::Before, Landing::WhenToldConnected,
                                                              Landing::WhenListStored, Landing::WhenReadEnded)),
                         rowName);

// The pool's judgement that meets the unit gone tells the window so when it lands; by then the unit may be
// back, its next connection read. That connection is not the one the judgement met gone.
TEST_F(UnitFolderRemoval, APoolJudgementThatMetTheLossLandsAfterTheNextConnectionBegan)
{
    // Some of the judgement's files are looked at (in parallel) once the unit is gone, one is still held.
    if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "the judgement runs on one thread here";
    connectWithTheWindow();
    held.folder = root / "Judged";
    CommonUtils::Tree pool;
    for (int i = 0; i < 8; ++i) {
        pool.push_back(std::make_shared<DirectoryObject>());
        pool.back()->object = std::make_shared<PatchItem>();
        pool.back()->patchItem()->path = held.folder + "/" + std::to_string(i) + ".qptc";
    }
    held.first = pool[0]->patchItem()->path;
    utils->updateDirectoryObjectForPatchPool(pool);
    ASSERT_TRUE(loop.runUntil([&] { return held.anyArrived(); }));

    utils->ejectDeviceWithPatchList({}, {});
    ASSERT_TRUE(loop.runUntil([&] { return window.losses == 1; }));
    held.let(&HeldJudgement::open);
    utils->connectDevice();
    ASSERT_TRUE(loop.runUntil([&] { return window.reads == 1; }));
    held.let(&HeldJudgement::last);
    expectTheNextConnectionKept();
}
