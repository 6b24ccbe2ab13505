// The window removes the unit's folders when it handles the unit's loss, which may be late: the unit can be
// back (plugged in again, connected again) and its next connection reading into those folders by then.
#include <filesystem>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <functional>
#include <thread>

#include "support/library/CoordinatorFixture.h"

namespace fs = std::filesystem;

namespace {

enum class Loss { Unplugged, Ejected };
enum class Landing { Before, WhenToldConnected, WhenListStored, WhenReadEnded };

struct Row {
    const char* name;
    Loss loss;
    Landing landing;
};

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

const Row kRows[] = {
    {"UnpluggedRemovedBeforeTheUnitIsBack", Loss::Unplugged, Landing::Before},
    {"UnpluggedRemovedAsTheNextConnectionIsTold", Loss::Unplugged, Landing::WhenToldConnected},
    {"UnpluggedRemovedOnceTheNextListIsStored", Loss::Unplugged, Landing::WhenListStored},
    {"UnpluggedRemovedAfterTheNextRead", Loss::Unplugged, Landing::WhenReadEnded},
    {"EjectedRemovedBeforeTheUnitIsBack", Loss::Ejected, Landing::Before},
    {"EjectedRemovedAsTheNextConnectionIsTold", Loss::Ejected, Landing::WhenToldConnected},
    {"EjectedRemovedOnceTheNextListIsStored", Loss::Ejected, Landing::WhenListStored},
    {"EjectedRemovedAfterTheNextRead", Loss::Ejected, Landing::WhenReadEnded},
};

}  // namespace

class UnitFolderRemoval : public Coordinator, public ::testing::WithParamInterface<Row> {
protected:
    fs::path deviceFolder() const { return root / "PEXO Rigmora/Temp/Device"; }
    fs::path storedList() const { return deviceFolder() / "FLST_SEQ.QT2"; }
    fs::path dumpedPatches() const { return deviceFolder() / "Patch"; }
    bool dumped() const
    {
        std::error_code error;
        return fs::is_directory(dumpedPatches(), error) && !fs::is_empty(dumpedPatches(), error);
    }
    void comeBack(Loss loss)
    {
        if (loss == Loss::Unplugged) unit.device().plugIn();
        else utils->connectDevice();
    }
};

TEST_P(UnitFolderRemoval, TheNextConnectionKeepsItsFolders)
{
    const Row& row = GetParam();
    start();
    // With the effect store in place a connection after a loss or an eject reads at once.
    fs::create_directories(utils->pathUnderRoot(CommonUtils::kStoreEffect));
    connect();
    ASSERT_TRUE(fs::exists(storedList()));
    ASSERT_TRUE(dumped());

    WindowStandIn window;
    window.removeFolders = [&] { utils->removeDeviceDataFolderAfterPoolWork(); };
    if (row.landing != Landing::Before) {
        window.busy = [&] {
            comeBack(row.loss);
            const bool reached = loop.runUntil([&] {
                switch (row.landing) {
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
    utils->setDelegate(&window);
    if (row.loss == Loss::Unplugged) unit.device().unplug();
    else utils->ejectDeviceWithPatchList({}, {});
    ASSERT_TRUE(loop.runUntil([&] { return window.losses == 1; }));
    if (row.landing == Landing::Before) {
        settle();
        // The removal still happens for the connection that was lost.
        EXPECT_FALSE(fs::exists(deviceFolder()));
        comeBack(row.loss);
    }
    ASSERT_TRUE(loop.runUntil([&] { return window.reads == 1; }));
    settle();
    EXPECT_EQ(window.losses, 1);
    EXPECT_EQ(window.connects, 1);
    EXPECT_EQ(files.readFile(storedList().string()), unit.files().file("FLST_SEQ.QT2"));
    EXPECT_TRUE(dumped()) << "the next connection's patches are gone";
    utils->setDelegate(&recorder);
}

INSTANTIATE_TEST_SUITE_P(LossesAndLandings, UnitFolderRemoval, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

namespace {
// A disk on which the pool's judgement looks at the files of one folder only when the test lets it: first
// none, then (`open`) all but the first, which (`last`) it lets last, so the judgement lands only then.
struct HeldJudgement : platform::LocalFileManager {
    std::optional<platform::FileStamp> fileStamp(const std::string& path) override
    {
        if (path.rfind(folder, 0) == 0) {
            std::unique_lock lock(mutex);
            ++arrived;
            changed.notify_all();
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

// The pool's judgement that meets the unit gone tells the window so when it lands; by then the unit may be
// back, its next connection read. That connection is not the one the judgement met gone.
TEST_F(UnitFolderRemoval, APoolJudgementThatMetTheLossLandsAfterTheNextConnectionBegan)
{
    // Some of the judgement's files are looked at (in parallel) once the unit is gone, one is still held.
    if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "the judgement runs on one thread here";
    HeldJudgement held;
    start(held);
    const struct Ending {
        HeldJudgement& held;
        std::unique_ptr<CommonUtils>& utils;
        ~Ending()
        {
            held.let(&HeldJudgement::open);
            held.let(&HeldJudgement::last);
            utils.reset();
        }
    } ending{held, utils};
    fs::create_directories(utils->pathUnderRoot(CommonUtils::kStoreEffect));
    connect();
    WindowStandIn window;
    window.removeFolders = [&] { utils->removeDeviceDataFolderAfterPoolWork(); };
    utils->setDelegate(&window);

    held.folder = root / "Judged";
    CommonUtils::Tree pool;
    for (int i = 0; i < 8; ++i) {
        auto leaf = std::make_shared<DirectoryObject>();
        leaf->object = std::make_shared<PatchItem>();
        leaf->patchItem()->path = held.folder + "/" + std::to_string(i) + ".qptc";
        pool.push_back(std::move(leaf));
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
    settle();
    EXPECT_EQ(window.connects, 1);
    EXPECT_EQ(window.losses, 1) << "the connection read after the judgement was told lost";
    EXPECT_TRUE(dumped()) << "the next connection's patches are gone";
    utils->setDelegate(&recorder);
}
