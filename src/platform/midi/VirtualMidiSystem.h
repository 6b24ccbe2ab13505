#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/midi/MidiSystem.h"
#include "platform/midi/MidiThread.h"
#include "platform/midi/VirtualMidiDevice.h"

namespace platform {

// An in-process MIDI system for tests and the demo: devices are added, unplugged, plugged in again and
// set offline at run time, and each has a device side (VirtualMidiDevice) that the simulated device
// drives. Host input is delivered on one input thread, device-side reception on another, each in order.
class VirtualMidiSystem final : public MidiSystem {
public:
    struct EntityShape {
        bool source = true;
        bool destination = true;
    };

    explicit VirtualMidiSystem(Dispatch& dispatch);
    ~VirtualMidiSystem() override;

    // Adds a plugged-in, online device at the end of the list and announces it.
    std::shared_ptr<VirtualMidiDevice> addDevice(const std::string& name, const std::vector<EntityShape>& entities);
    // The usual shape: one entity with a source and a destination.
    std::shared_ptr<VirtualMidiDevice> addDevice(const std::string& name);
    // Returns once everything sent so far, both ways, has been delivered (the device side's answers included).
    void waitUntilDelivered();

    MidiRef createClient(const std::string& name, MidiNotifyProc notify) override;
    MidiRef createInputPort(MidiRef client, const std::string& name, MidiReadProc read) override;
    MidiRef createOutputPort(MidiRef client, const std::string& name) override;
    void disposePort(MidiRef port) override;
    void disposeClient(MidiRef client) override;
    std::size_t numberOfDevices() override;
    MidiRef device(std::size_t index) override;
    std::size_t numberOfEntities(MidiRef device) override;
    MidiRef entity(MidiRef device, std::size_t index) override;
    MidiRef entitySource(MidiRef entity, std::size_t index) override;
    MidiRef entityDestination(MidiRef entity, std::size_t index) override;
    std::optional<std::int64_t> integerProperty(MidiRef object, MidiProperty property) override;
    bool setIntegerProperty(MidiRef object, MidiProperty property, std::int64_t value) override;
    std::optional<std::string> stringProperty(MidiRef object, MidiProperty property) override;
    bool connectSource(MidiRef inputPort, MidiRef source) override;
    bool disconnectSource(MidiRef inputPort, MidiRef source) override;
    bool sendSysex(MidiRef outputPort, MidiRef destination, const std::uint8_t* bytes, std::size_t size,
                   MidiCompletion completion) override;

private:
    friend class VirtualMidiDevice;
    struct Object {
        MidiObjectType type = MidiObjectType::Other;
        MidiRef parent = kMidiNoRef;  // entity -> device, endpoint -> entity
        std::string name;
    };
    struct DeviceEntry {
        std::shared_ptr<VirtualMidiDevice> device;
        bool plugged = true;
        bool offline = false;
        std::size_t order = 0;  // position in the system's list while plugged
    };
    struct InputPort {
        std::shared_ptr<const MidiReadProc> read;
        std::set<MidiRef> sources;
    };

    MidiRef newRef(MidiObjectType type, MidiRef parent, std::string name);
    // The plugged device owning an endpoint or entity, or nullptr. Called with the mutex held.
    DeviceEntry* owner(MidiRef object);
    std::vector<const DeviceEntry*> listedDevices() const;
    void announce(const MidiNotification& notification);
    void setPlugged(MidiRef device, bool plugged);
    void setOffline(MidiRef device, bool offline);
    bool isPlugged(MidiRef device) const;
    bool isOffline(MidiRef device) const;
    void deliverToHost(MidiRef device, MidiRef source, std::vector<MidiPacketList> lists);

    Dispatch& m_dispatch;
    mutable std::mutex m_mutex;
    MidiRef m_lastRef = 0x1000;
    std::size_t m_nextOrder = 0;
    std::map<MidiRef, Object> m_objects;
    std::map<MidiRef, DeviceEntry> m_devices;
    std::map<MidiRef, std::shared_ptr<const MidiNotifyProc>> m_clients;
    std::map<MidiRef, InputPort> m_inputPorts;
    std::set<MidiRef> m_outputPorts;
    std::map<std::pair<MidiRef, MidiProperty>, std::int64_t> m_integerProperties;
    std::condition_variable m_readsDone;
    int m_readsInFlight = 0;  // read procedures being called
    // Declared last, and both stopped by the destructor before either goes, so no delivery outlives the
    // state above and no task posts to a destroyed thread.
    // The device side looks for the host's next message a while before it sleeps: a unit answering at
    // once is what it stands for, and its own wake-up would otherwise be counted against the host in
    // every round trip. The input thread sleeps between replies as a driver's does.
    MidiThread m_deviceThread{"midi-dev-side", std::chrono::microseconds(100)};
    MidiThread m_inputThread{"midi-input", std::chrono::microseconds(50)};
};

}  // namespace platform
