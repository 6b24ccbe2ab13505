#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/midi/MidiTypes.h"

namespace platform {

// The MIDI services the transport needs: a client with a setup notification procedure, an input port
// whose read procedure receives packet lists, an output port, the device list (devices hold entities,
// entities hold sources and destinations), object properties and SysEx sending.
//
// Threads: notification procedures run on the main queue; read procedures run on the backend's own input
// thread; every other call may come from any thread.
class MidiSystem {
public:
    virtual ~MidiSystem() = default;

    // Each answers kMidiNoRef when the object cannot be created.
    virtual MidiRef createClient(const std::string& name, MidiNotifyProc notify) = 0;
    virtual MidiRef createInputPort(MidiRef client, const std::string& name, MidiReadProc read) = 0;
    virtual MidiRef createOutputPort(MidiRef client, const std::string& name) = 0;
    // Once it returns, the port's read procedure is neither running nor called again, so its owner may go
    // (called from inside that procedure, it cannot wait for the call it is in).
    virtual void disposePort(MidiRef port) = 0;
    virtual void disposeClient(MidiRef client) = 0;

    // The system's devices in its own order. A device that is unplugged leaves the list; an offline one
    // stays in it with its offline property set.
    virtual std::size_t numberOfDevices() = 0;
    virtual MidiRef device(std::size_t index) = 0;
    virtual std::size_t numberOfEntities(MidiRef device) = 0;
    virtual MidiRef entity(MidiRef device, std::size_t index) = 0;
    // kMidiNoRef when the entity has no such endpoint.
    virtual MidiRef entitySource(MidiRef entity, std::size_t index) = 0;
    virtual MidiRef entityDestination(MidiRef entity, std::size_t index) = 0;

    virtual std::optional<std::int64_t> integerProperty(MidiRef object, MidiProperty property) = 0;
    virtual bool setIntegerProperty(MidiRef object, MidiProperty property, std::int64_t value) = 0;
    virtual std::optional<std::string> stringProperty(MidiRef object, MidiProperty property) = 0;

    virtual bool connectSource(MidiRef inputPort, MidiRef source) = 0;
    virtual bool disconnectSource(MidiRef inputPort, MidiRef source) = 0;

    // Queues a whole SysEx message (F0 .. F7) for the destination and returns without waiting. Messages to
    // one destination go out in the order they were queued; none is dropped to make room for another.
    // The completion runs once the bytes have left, on a thread of the backend. False when nothing was
    // queued (unknown destination, no output port, no sequencer).
    virtual bool sendSysex(MidiRef outputPort, MidiRef destination, const std::uint8_t* bytes, std::size_t size,
                           MidiCompletion completion) = 0;

    // The system the program runs on (set once at start); tests build their own and never set it.
    static MidiSystem& shared();
    static void setShared(MidiSystem* system);
};

}  // namespace platform
