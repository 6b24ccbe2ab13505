#pragma once

#include <gtest/gtest.h>
#include <filesystem>

#include "device/transport/CMidiDevice.h"
#include "device/sequencer/CQFXMidiCommandLayer.h"
#include "device/sequencer/ParserDataController.h"
#include "support/device/SequencerDoubles.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/files/LocalFileManager.h"
#include "platform/midi/VirtualMidiSystem.h"
#include "support/device/DeviceUnit.h"
#include "support/files/TemporaryFolder.h"

namespace support::sequencerdevice {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

// The sequencer over the real command layer and transport, talking to the simulated unit on the
// virtual backend. Its state lives on its own serial queue; the watchdogs only move with the fake clock.
class SequencerDevice : public ::testing::Test {
protected:
    static constexpr std::int32_t kModelId = 0x00700001;
    static constexpr float kT = 2.0F;

    SequencerDevice()
        : dispatch(loop),
          midi(dispatch),
          root(folder.path()),
          transport(midi, dispatch, files, root),
          unit(midi, {1, 2, 3, 256}),
          seq(dispatch, timers, files, CQFXMidiCommandLayer::factory(transport), state)
    {
        loop.runUntilIdle();
        seq.setParserDataDelegate(&recorder);
    }
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
    std::string dumpedPath(int group, int bank, int patch)
    {
        // The dump names its files after the slot, in the device patch folder under the root.
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            const std::string name = std::to_string(group) + "_" + std::to_string(bank) + "_" + std::to_string(patch) + ".qptc";
            if (entry.path().filename() == name) return entry.path().string();
        }
        return {};
    }

    // How many requests of a function (and file-system step) the device has received.
    std::size_t asked(std::uint8_t function, int sub = -1)
    {
        std::size_t count = 0;
        for (const Bytes& request : unit.device().requests())
            if (request.size() > 5 && request[1] == 0x7D && request[4] == function && (sub < 0 || request[5] == sub))
                ++count;
        return count;
    }

    platform::FakeClock clock;
    platform::RunLoop loop{clock};
    platform::Dispatch dispatch;
    platform::TimerService timers{loop};
    platform::VirtualMidiSystem midi;
    platform::LocalFileManager files;
    TemporaryFolder folder;
    std::string root;
    CMidiDevice transport;
    sim::DeviceUnit unit;
    RecordingDelegate recorder;
    // The sequencer's state queue, so a test can wait out what it has been handed.
    std::shared_ptr<platform::SerialQueue> state = dispatch.makeSerial("test.sequencer", platform::Priority::Low);
    ParserDataController seq;
};

}  // namespace support::sequencerdevice
