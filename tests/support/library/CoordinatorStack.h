#pragma once

#include <string>

#include "device/sequencer/CQFXMidiCommandLayer.h"
#include "device/sequencer/ParserDataController.h"
#include "device/transport/CMidiDevice.h"
#include "library/CommonUtils.h"
#include "platform/bundle/Configuration.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/files/LocalFileManager.h"
#include "platform/midi/VirtualMidiSystem.h"
#include "support/device/DeviceUnit.h"
#include "support/files/TemporaryFolder.h"

// What a coordinator stands on: the real sequencer, command layer and transport, talking to the
// simulated unit on the virtual backend, in a temporary root. Time moves only with the fake clock.
// Whatever is built on top goes first, so its last requests are answered before the unit goes.
struct CoordinatorStack {
    explicit CoordinatorStack(SimulatedPatchMemory::Layout layout = sim::DeviceUnit::defaultLayout())
        : dispatch(loop),
          midi(dispatch),
          transport(midi, dispatch, files, root.path()),
          unit(midi, layout),
          seq(dispatch, timers, files, CQFXMidiCommandLayer::factory(transport))
    {
        loop.runUntilIdle();
    }
    ~CoordinatorStack() { midi.waitUntilDelivered(); }

    std::string programFolder() const { return root / "PEXO Rigmora"; }
    CommonUtils::Collaborators collaborators(platform::FileManager& fileManager)
    {
        return {dispatch, timers, fileManager, configuration, seq, programFolder()};
    }
    CommonUtils::Collaborators collaborators() { return collaborators(files); }

    platform::FakeClock clock;
    platform::RunLoop loop{clock};
    platform::Dispatch dispatch;
    platform::TimerService timers{loop};
    platform::VirtualMidiSystem midi;
    platform::LocalFileManager files;
    platform::Configuration configuration;
    TemporaryFolder root;
    CMidiDevice transport;
    sim::DeviceUnit unit;
    ParserDataController seq;
};
