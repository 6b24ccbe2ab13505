#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/dispatch/Dispatch.h"
#include "platform/midi/MidiSystem.h"

typedef struct _snd_seq snd_seq_t;
typedef struct snd_midi_event snd_midi_event_t;

namespace platform {

// MIDI over the ALSA sequencer. A device is another sequencer client (not ours, not the system client, not
// "Midi Through") with at least one port open to others; each such port is an entity whose source and
// destination are the port itself when it can be read from and written to. Hot-plug comes from the system
// announce port on the backend's own thread and is delivered on the main queue; incoming events are turned
// into bytes and handed to the input port's read procedure on that same thread.
// Without a sequencer (no /dev/snd/seq) the backend lists no devices, logs once and refuses every send.
class AlsaMidiSystem final : public MidiSystem {
public:
    explicit AlsaMidiSystem(Dispatch& dispatch, const std::string& clientName = "PEXO Rigmora");
    ~AlsaMidiSystem() override;
    AlsaMidiSystem(const AlsaMidiSystem&) = delete;
    AlsaMidiSystem& operator=(const AlsaMidiSystem&) = delete;

    bool isAvailable() const { return m_seq != nullptr; }
    int clientId() const { return m_ownClient; }

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
    enum class Kind { Client, Port, Device, Entity, Source, Destination };
    using Key = std::tuple<Kind, int, int>;
    struct PortInfo {
        int port = 0;
        std::string name;
        bool readable = false;
        bool writable = false;
    };
    struct DeviceInfo {
        int client = 0;
        std::string name;
        std::vector<PortInfo> ports;
    };

    MidiRef refFor(Kind kind, int client, int port);
    std::optional<Key> keyOf(MidiRef ref);
    std::vector<DeviceInfo> queryDevices();
    std::optional<DeviceInfo> queryDevice(int client);
    std::optional<PortInfo> queryPort(MidiRef entityOrEndpoint, Kind expected);
    bool drainOutput();
    void run();
    void handleAnnounce(int type, int client);
    void notify(const MidiNotification& notification);

    Dispatch& m_dispatch;
    snd_seq_t* m_seq = nullptr;
    snd_midi_event_t* m_decoder = nullptr;
    int m_ownClient = -1;
    int m_announcePort = -1;
    int m_wakeFd = -1;
    std::mutex m_seqMutex;  // the sequencer handle is not safe for concurrent use
    std::mutex m_mutex;     // the tables below
    MidiRef m_lastRef = 0x2000;
    std::map<Key, MidiRef> m_refs;
    std::map<MidiRef, Key> m_keys;
    std::map<MidiRef, std::shared_ptr<const MidiNotifyProc>> m_clients;
    std::map<int, std::shared_ptr<const MidiReadProc>> m_readers;  // by our ALSA port number
    std::set<int> m_outputPorts;
    std::set<int> m_announced;  // clients listed as devices
    std::condition_variable m_readsDone;
    int m_readsInFlight = 0;  // read procedures being called
    std::thread m_thread;
};

}  // namespace platform
