#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/Clock.h"
#include "platform/midi/MidiTypes.h"

namespace platform {

class VirtualMidiSystem;

// The device side of a device of the virtual backend: what the host sends to any of its destinations
// arrives at the receiver, and what it sends goes to the host from its first source, split into packets
// where the caller says. Made by VirtualMidiSystem::addDevice.
class VirtualMidiDevice {
public:
    // One call per message the host sent, on the backend's device-side thread, in sending order.
    using Receiver = std::function<void(const std::vector<std::uint8_t>& message)>;
    // The same, told when the host handed the message to the system: the moment a cable starts carrying
    // it, however late this side's thread gets to run.
    using TimedReceiver =
        std::function<void(const std::vector<std::uint8_t>& message, std::chrono::steady_clock::time_point sent)>;

    // Slows delivery to the host like a real cable: a fixed latency before each send, then each packet
    // after its bytes' share of the rate. Zero means no delay.
    struct Pacing {
        double bytesPerSecond = 0;
        Duration latencyPerMessage{};
    };

    VirtualMidiDevice(VirtualMidiSystem& system, std::string name, MidiRef device, std::vector<MidiRef> entities,
                      std::vector<MidiRef> sources, std::vector<MidiRef> destinations);

    MidiRef device() const { return m_device; }
    const std::string& name() const { return m_name; }
    std::size_t entityCount() const { return m_entities.size(); }
    MidiRef entity(std::size_t index) const { return m_entities.at(index); }
    // kMidiNoRef where that entity has no such endpoint.
    MidiRef source(std::size_t entity = 0) const { return m_sources.at(entity); }
    MidiRef destination(std::size_t entity = 0) const { return m_destinations.at(entity); }

    // Replacing the receiver waits for a call of the old one still running on the device-side thread
    // (unless made from within it), so an owner that clears it may then go.
    void setReceiver(Receiver receiver);
    void setTimedReceiver(TimedReceiver receiver);
    void setPacing(Pacing pacing);

    // Sends bytes to the host, cut before each split point (offsets into bytes, ascending); each piece
    // arrives as a packet list of its own.
    void send(std::vector<std::uint8_t> bytes, const std::vector<std::size_t>& splitPoints = {});
    // Sends packet lists exactly as given.
    void sendPacketLists(std::vector<MidiPacketList> lists);

    // Unplugging takes the device out of the system's list (announced as removed); plugging it in again
    // brings it back under the same references (announced as added).
    void unplug();
    void plugIn();
    // An offline device stays listed; the change is announced as a property change.
    void setOffline(bool offline);
    bool isPlugged() const;
    bool isOffline() const;

private:
    friend class VirtualMidiSystem;
    void deliver(const std::vector<std::uint8_t>& message, std::chrono::steady_clock::time_point sent);
    Pacing pacing() const;

    VirtualMidiSystem& m_system;
    std::string m_name;
    MidiRef m_device;
    std::vector<MidiRef> m_entities;
    std::vector<MidiRef> m_sources;
    std::vector<MidiRef> m_destinations;
    mutable std::mutex m_mutex;
    std::recursive_mutex m_calling;  // held while the receiver runs
    TimedReceiver m_receiver;
    Pacing m_pacing;
};

}  // namespace platform
