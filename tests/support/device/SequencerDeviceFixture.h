#pragma once

#include <gtest/gtest.h>
#include <filesystem>

#include "device/sequencer/CQFXMidiCommandLayer.h"
#include "device/sequencer/ParserDataController.h"
#include "support/device/QFXRig.h"
#include "support/device/SequencerDoubles.h"

namespace support::sequencerdevice {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

// The sequencer over the real command layer and transport, talking to the simulated unit on the
// virtual backend. Its state lives on its own serial queue; the watchdogs only move with the fake clock.
class SequencerDevice : public ::testing::Test, public UnitRig {
protected:
    static constexpr float kT = 2.0F;

    SequencerDevice() { seq.setParserDataDelegate(&recorder); }
    ~SequencerDevice() override { midi.waitUntilDelivered(); }

    // Waits (pumping the main queue) for the next `count` events and hands them over.
    Strings next(std::size_t count = 1)
    {
        Strings got;
        loop.runUntil([&] {
            for (auto& event : recorder.take()) got.push_back(std::move(event));
            return got.size() >= count;
        });
        return got;
    }
    void connect()
    {
        ServerDeviceModel model;
        model.modelIdInt = kModelId;
        seq.scanDeviceWithAcceptDeviceArray({model}, 2, kT);
        ASSERT_EQ(next(), Strings{"connection 1 0"});
    }
    // The dump names its files after the slot, in the device patch folder under the root.
    std::string dumpedPath(int group, int bank, int patch)
    {
        const auto name = std::to_string(group) + "_" + std::to_string(bank) + "_" + std::to_string(patch) + ".qptc";
        for (const auto& entry : fs::recursive_directory_iterator(root))
            if (entry.path().filename() == name) return entry.path().string();
        return {};
    }
    // Runs the main queue until the device has heard `times` requests of a function ("46", "60 22").
    bool heard(const std::string& function, std::size_t times)
    {
        return loop.runUntil([&] { return count(function) >= times; });
    }

    platform::TimerService timers{loop};
    RecordingDelegate recorder;
    // The sequencer's state queue, so a test can wait out what it has been handed.
    std::shared_ptr<platform::SerialQueue> state = dispatch.makeSerial("test.sequencer", platform::Priority::Low);
    ParserDataController seq{dispatch, timers, files, CQFXMidiCommandLayer::factory(transport), state};
};

}  // namespace support::sequencerdevice
