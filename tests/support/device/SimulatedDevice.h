#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/Bytes.h"
#include "platform/midi/VirtualMidiSystem.h"
#include "support/Locked.h"
#include "support/device/RequestKey.h"

namespace sim {

// A device on the virtual MIDI backend that answers the host's SysEx requests. Requests are dispatched by
// RequestKey to a table of handlers (the identity one built in; a test may replace or add any); the state
// the handlers answer from and the faults they commit are set by the test.
//
// Handlers run on the backend's device-side thread, one request at a time in the order the host sent them.
class SimulatedDevice : private support::Locked {
public:
    struct Identity {
        std::uint8_t familyLow = 0x70;  // also the device ID of maker messages
        std::uint8_t familyHigh = 0x00;
        std::uint8_t memberLow = 0x01;
        std::uint8_t memberHigh = 0x00;
        std::array<std::uint8_t, 4> version{'1', '.', '2', '0'};
    };
    struct State {
        Identity identity;
    };
    struct Faults {
        // Requests of a key that get no answer, counted down one per request.
        std::map<RequestKey, int> silentFor;
    };

    // A cable of a wire rate in both directions and a processing latency before each reply. Each request
    // takes its bytes' share of the rate to arrive; each reply leaves once its request has arrived, the
    // latency has passed and the wire to the host is free, and lands its bytes' share later. Zero means
    // no delay.
    struct Pacing {
        double bytesPerSecond = 0;
        std::chrono::nanoseconds latencyPerReply{};
    };

    // What crossed the cable so far: the floor of any exchange is its bytes both ways at the wire rate
    // plus one latency per reply.
    struct Traffic {
        std::size_t bytesToDevice = 0;
        std::size_t bytesToHost = 0;
        std::size_t replies = 0;
        // How long after their deadlines paced replies were handed to the backend, summed.
        std::chrono::nanoseconds late{};
        // When the host sent the last request the device heard.
        std::chrono::steady_clock::time_point lastRequestSent{};
    };

    using Handler = std::function<void(SimulatedDevice& device, const Bytes& request)>;
    // Sees every request before its handler, with how many requests of its key the device heard so far
    // (this one included); false leaves the request unanswered. Runs on the device-side thread.
    using Gate = std::function<bool(const RequestKey& key, std::size_t countOfKey)>;

    explicit SimulatedDevice(platform::VirtualMidiSystem& system, const std::string& name = "PEXO QFX");
    ~SimulatedDevice() { stop(); }
    SimulatedDevice(const SimulatedDevice&) = delete;
    SimulatedDevice& operator=(const SimulatedDevice&) = delete;

    platform::VirtualMidiDevice& port() { return *m_port; }
    platform::MidiRef deviceRef() const { return m_port->device(); }

    void setState(const State& state) { locked([&] { m_state = state; }); }
    State state() const { return locked([&] { return m_state; }); }
    void setFaults(const Faults& faults) { locked([&] { m_faults = faults; }); }
    Faults faults() const { return locked([&] { return m_faults; }); }
    void setPacing(const Pacing& pacing) { locked([&] { m_pacing = pacing; }); }
    Traffic traffic() const { return locked([&] { return m_traffic; }); }
    void setHandler(const RequestKey& key, Handler handler) { locked([&] { m_handlers[key] = std::move(handler); }); }
    void removeHandler(const RequestKey& key) { locked([&] { m_handlers.erase(key); }); }
    void setGate(Gate gate) { locked([&] { m_gate = std::move(gate); }); }

    // Sends one whole message to the host. Also how a test sends something the host never asked for.
    void reply(const Bytes& message);
    // F0 7D 00 dev function body F7, with this device's ID.
    Bytes makerMessage(std::uint8_t function, const Bytes& body) const;
    static Bytes identityReply(const Identity& identity);

    // Every message the host sent, in order, answered or not.
    std::vector<Bytes> requests() const { return locked([&] { return m_requests; }); }
    std::size_t requestCount(const RequestKey& key) const;

    // Stops answering: once this returns no handler runs, nor is one still running, so whatever the
    // handlers reach may go. An owner calls it before its own members go.
    void stop() { m_port->setReceiver(nullptr); }

    void unplug() { m_port->unplug(); }
    void plugIn() { m_port->plugIn(); }
    void setOffline(bool offline) { m_port->setOffline(offline); }

private:
    using Clock = std::chrono::steady_clock;

    void receive(const Bytes& message, Clock::time_point sent);
    // When a message of `bytes` bytes sent now is whole at the host, its wire time booked.
    Clock::time_point bookReply(std::size_t bytes);
    static void waitUntil(Clock::time_point deadline);

    std::shared_ptr<platform::VirtualMidiDevice> m_port;
    State m_state;
    Faults m_faults;
    std::map<RequestKey, Handler> m_handlers;
    Gate m_gate;
    std::map<RequestKey, std::size_t> m_counts;
    std::vector<Bytes> m_requests;
    Pacing m_pacing;
    Traffic m_traffic;
    Clock::time_point m_toDeviceFree{};  // when the wire to the device has carried everything sent on it
    Clock::time_point m_toHostFree{};
};

}  // namespace sim
