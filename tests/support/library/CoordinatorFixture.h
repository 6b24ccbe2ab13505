#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "library/CommonUtils.h"
#include "support/library/CoordinatorStack.h"
#include "support/library/LibraryFiles.h"
#include "support/library/RecordingCommonUtilsDelegate.h"
#include "support/library/SessionDoubles.h"

using Strings = std::vector<std::string>;

// The coordinator on its whole stack, with a unit of six patches.
class Coordinator : public ::testing::Test, protected CoordinatorStack {
protected:
    static constexpr std::int32_t kModelId = 0x00700001;

    Coordinator() : CoordinatorStack({1, 2, 3, 256}) {}

    CommonUtils& start() { return start(files); }
    CommonUtils& start(platform::FileManager& fileManager)
    {
        utils = std::make_unique<CommonUtils>(collaborators(fileManager));
        utils->setDelegate(&recorder);
        utils->setPowerEvents(&power);
        utils->setApplicationLifecycle(&lifecycle);
        return *utils;
    }

    // A catalogue that accepts the simulated unit's model (or another one), listing `effects` for it.
    static AllQFXData catalogue(std::int32_t modelId = kModelId, const nlohmann::json& effects = nlohmann::json::array())
    {
        return AllQFXData::initWithDic(
            {{"qfx_url", "http://127.0.0.1/"},
             {"models", {{{"modelId", hexOf(modelId)}, {"modelName", "Rig One"}, {"effects", effects}}}}});
    }
    // The server's form of a model ID: the two bytes of each 16-bit half swapped.
    static std::string hexOf(std::int32_t id)
    {
        const auto v = static_cast<std::uint32_t>(id);
        return library_files::hex(((v & 0x00FF00FFU) << 8) | ((v & 0xFF00FF00U) >> 8));
    }

    // What the interface hears of a connection and its whole read (the effect pool marked for the device, its
    // effect list, memory, patches).
    Strings connectRead() const
    {
        return {"busy",     "connect 1", "busy",         "effectPool", "syncFinish", "effects " + std::to_string(effectsOnDevice),
                "memory 0", "name Rig One", "patches 6", "idle"};
    }

    // Waits (pumping the main queue) until the delegate has heard `event`; hands over all it heard.
    Strings until(const std::string& event)
    {
        Strings got;
        loop.runUntil([&] {
            for (auto& e : recorder.take()) got.push_back(std::move(e));
            return std::find(got.begin(), got.end(), event) != got.end();
        });
        return got;
    }
    // Lets every thread settle and hands over what the delegate heard meanwhile. However slow the
    // machine, it waits until two rounds in a row find the device, the pools and the main queue idle;
    // a short real-time pump between two such waits catches what comes from elsewhere.
    Strings settle()
    {
        for (int pass = 0; pass < 2; ++pass) {
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            for (int quiet = 0; quiet < 2 && std::chrono::steady_clock::now() < limit;) {
                midi.waitUntilDelivered();
                const bool pools = dispatch.waitUntilIdle();
                quiet = loop.runUntilIdle() == 0 && !pools ? quiet + 1 : 0;
            }
            if (pass == 0) loop.runUntil([] { return false; }, std::chrono::milliseconds(20));
        }
        return recorder.take();
    }
    void connect()
    {
        utils->dataFromServer(catalogue());
        utils->connectDevice();
        ASSERT_EQ(until("idle"), connectRead());
        // The sequencer's watchdogs are all off again, so the next timer armed is the coordinator's.
        ASSERT_TRUE(loop.runUntil([&] { return timers.activeCount() == 0; }));
    }
    // Connects with the replies of one step of the read held back, and returns once that step is asked.
    void connectUntilAsked(const sim::RequestKey& step)
    {
        unit.delayReplies(step, std::chrono::milliseconds(30));
        utils->dataFromServer(catalogue());
        utils->connectDevice();
        ASSERT_TRUE(loop.runUntil([&] { return unit.device().requestCount(step) > 0; }));
    }
    // How many effects the device's list shows the interface on connection (the unit's own list has one).
    int effectsOnDevice = 1;
    static long count(const Strings& heard, const std::string& event) { return std::count(heard.begin(), heard.end(), event); }
    // The device was told to leave editor mode (a forced eject).
    bool leftEditorMode() { return unit.device().requestCount(sim::RequestKey::maker(0x53)) > 0; }

    RecordingCommonUtilsDelegate recorder;
    FakePowerEvents power;
    FakeApplicationLifecycle lifecycle;
    std::unique_ptr<CommonUtils> utils;
};
