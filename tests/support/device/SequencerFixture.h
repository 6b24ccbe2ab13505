#pragma once

#include <gtest/gtest.h>
#include <atomic>
#include <functional>
#include <future>
#include <thread>

#include "device/formats/OKVPatch.h"
#include "device/sequencer/ParserDataController.h"
#include "support/device/SequencerDoubles.h"
#include "support/files/TemporaryFolder.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/files/LocalFileManager.h"

// A sequencer on fake command layers, its state on the main queue so every step runs when the test
// pumps it, with the handshake records, patch files and whole memories its tests feed it.
namespace support::sequencer {

using Strings = std::vector<std::string>;

// 12 patches: 2 groups of 2 banks of 3.
inline AdvencedPatchInformation layout()
{
    AdvencedPatchInformation info;
    info.totalNumberOfPatch = 12;
    info.patchDataSize = 200;
    info.numberOfPatchInGroup = 6;
    info.numberOfPatchInBank = 3;
    return info;
}

// Drops the sequencer before the queues a test made for it go.
struct ReleaseFirst {
    std::unique_ptr<ParserDataController>& seq;
    ~ReleaseFirst() { seq.reset(); }
};

class Sequencer : public ::testing::Test {
protected:
    static constexpr float kT = 2.0F;

    void SetUp() override { rebuild(); }

    // A fresh sequencer whose state lives on `queue` (the main queue unless given), its pools `pools`.
    void rebuild(std::shared_ptr<platform::Queue> queue = nullptr, platform::Dispatch* pools = nullptr)
    {
        seq.reset();
        fake = std::make_shared<FakeCommandLayer>();
        if (!queue) queue = std::shared_ptr<platform::Queue>(&dispatch.main(), [](platform::Queue*) {});
        seq = std::make_unique<ParserDataController>(
            pools ? *pools : dispatch, timers, files,
            [this](std::vector<AcceptedDeviceModel>, std::int32_t) { return fake; }, std::move(queue));
        seq->setParserDataDelegate(&recorder);
        recorder.take();
    }

    void run() { loop.runUntilIdle(); }
    void advance(double secondsToAdvance)
    {
        loop.advance(std::chrono::duration_cast<platform::Duration>(std::chrono::duration<double>(secondsToAdvance)));
    }
    Strings events()
    {
        run();
        return recorder.take();
    }
    Strings calls()
    {
        run();
        return fake->take();
    }
    CQFXMidiDelegate& unit() { return *fake->delegate; }

    void deliverRecords(const AdvencedPatchInformation& info = layout())
    {
        unit().enterPCAsyncModeCallbackWithState(1);
        unit().supportQFXInformationCallbackWithState(1, {0x03, 0, 0, 0}, Bytes(8, 0x01), Bytes(64, 5), {4});
        unit().supportPatchInformationCallbackWithState(1, {0x01, 0, 0, 0}, {0x04, 0, 0, 0, 0, 0, 0, 0}, {5});
        unit().advencedPatchDataInformationCallbackWithState(1, info);
        unit().infoReadCallbackWithState(1, 1, 0x128, 100, {1, 0}, -1);
    }
    void scan(std::vector<ServerDeviceModel> models = {})
    {
        seq->scanDeviceWithAcceptDeviceArray(std::move(models), 2, kT);
        run();
    }
    void connect(std::vector<ServerDeviceModel> models = {}, const AdvencedPatchInformation& info = layout())
    {
        scan(std::move(models));
        deliverRecords(info);
        ASSERT_EQ(events(), Strings{"connection 1 0"});
        calls();
    }

    // A fresh connected sequencer asked `request`, with a memory query waiting behind it.
    void startWithOneWaiting(const std::function<void()>& request)
    {
        rebuild();
        connect();
        request();
        seq->getMemoryStatus();
        run();
    }

    std::string patchFile(const std::string& name)
    {
        OKVPatch patch;
        patch.setPatchName("Lead");
        patch.setEffectTypes({7, 9});
        const std::string path = root + "/" + name;
        files.writeAtomically(path, patch.getByteData());
        return path;
    }
    std::vector<PatchObject> validGroup(std::size_t count)
    {
        std::vector<PatchObject> patchs;
        for (std::size_t i = 0; i < count; ++i)
            patchs.emplace_back(0, 0, static_cast<std::int32_t>(i % 3), patchFile("g" + std::to_string(i)));
        return patchs;
    }
    AllPatch wholeMemory()
    {
        AllPatch all = AllPatch::initPatchsListWithNumberOfGroups(2, 2, 3);
        const std::string path = patchFile("all");
        for (PatchObject& patch : all.patchsList) patch.path = path;
        return AllPatch::initWithPatchList(all.patchsList);
    }

    TemporaryFolder folder;
    std::string root = folder.path();
    platform::FakeClock clock;
    platform::RunLoop loop{clock};
    platform::Dispatch dispatch{loop, 1};
    platform::TimerService timers{loop};
    platform::LocalFileManager files;
    RecordingDelegate recorder;
    std::shared_ptr<FakeCommandLayer> fake;
    std::unique_ptr<ParserDataController> seq;
};

}  // namespace support::sequencer
