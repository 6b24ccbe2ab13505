#include "platform/midi/AlsaMidiSystem.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "common/Log.h"

namespace platform {

namespace {

constexpr unsigned kReadCaps = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
constexpr unsigned kWriteCaps = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
// Small enough for any output buffer the kernel hands out; a 1023-byte message goes out in four events.
constexpr std::size_t kSysExChunk = 256;

void logMissingSequencerOnce(int error)
{
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true)) RIG_LOG("no ALSA sequencer (%s); no MIDI device will be listed", snd_strerror(error));
}

}  // namespace

AlsaMidiSystem::AlsaMidiSystem(Dispatch& dispatch, const std::string& clientName) : m_dispatch(dispatch)
{
    // A missing /dev/snd/seq makes the library print to stderr on some versions; look first.
    if (access("/dev/snd/seq", F_OK) != 0) {
        logMissingSequencerOnce(-ENOENT);
        return;
    }
    const int opened = snd_seq_open(&m_seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    if (opened < 0) {
        m_seq = nullptr;
        logMissingSequencerOnce(opened);
        return;
    }
    snd_seq_set_client_name(m_seq, clientName.c_str());
    m_ownClient = snd_seq_client_id(m_seq);
    m_announcePort = snd_seq_create_simple_port(m_seq, "announce", kWriteCaps | SND_SEQ_PORT_CAP_NO_EXPORT,
                                                SND_SEQ_PORT_TYPE_APPLICATION);
    if (m_announcePort >= 0)
        snd_seq_connect_from(m_seq, m_announcePort, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    if (snd_midi_event_new(1024, &m_decoder) == 0) snd_midi_event_no_status(m_decoder, 1);
    for (const DeviceInfo& device : queryDevices()) m_announced.insert(device.client);
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { run(); });
}

AlsaMidiSystem::~AlsaMidiSystem()
{
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(m_wakeFd, &one, sizeof one);
        m_thread.join();
    }
    if (m_wakeFd >= 0) close(m_wakeFd);
    if (m_decoder != nullptr) snd_midi_event_free(m_decoder);
    if (m_seq != nullptr) snd_seq_close(m_seq);
}

MidiRef AlsaMidiSystem::refFor(Kind kind, int client, int port)
{
    std::lock_guard lock(m_mutex);
    const Key key{kind, client, port};
    const auto it = m_refs.find(key);
    if (it != m_refs.end()) return it->second;
    const MidiRef ref = ++m_lastRef;
    m_refs[key] = ref;
    m_keys[ref] = key;
    return ref;
}

std::optional<AlsaMidiSystem::Key> AlsaMidiSystem::keyOf(MidiRef ref)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_keys.find(ref);
    if (it == m_keys.end()) return std::nullopt;
    return it->second;
}

MidiRef AlsaMidiSystem::createClient(const std::string& name, MidiNotifyProc notify)
{
    if (m_seq == nullptr) return kMidiNoRef;
    {
        std::lock_guard lock(m_seqMutex);
        snd_seq_set_client_name(m_seq, name.c_str());
    }
    int key;
    {
        // The announce thread makes references at the same time.
        std::lock_guard lock(m_mutex);
        key = static_cast<int>(m_lastRef + 1);
    }
    const MidiRef ref = refFor(Kind::Client, m_ownClient, key);
    std::lock_guard lock(m_mutex);
    m_clients[ref] = std::make_shared<const MidiNotifyProc>(std::move(notify));
    return ref;
}

MidiRef AlsaMidiSystem::createInputPort(MidiRef client, const std::string& name, MidiReadProc read)
{
    if (m_seq == nullptr || !keyOf(client)) return kMidiNoRef;
    int port;
    {
        std::lock_guard lock(m_seqMutex);
        port = snd_seq_create_simple_port(m_seq, name.c_str(), kWriteCaps,
                                          SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    }
    if (port < 0) return kMidiNoRef;
    {
        std::lock_guard lock(m_mutex);
        m_readers[port] = std::make_shared<const MidiReadProc>(std::move(read));
    }
    return refFor(Kind::Port, m_ownClient, port);
}

MidiRef AlsaMidiSystem::createOutputPort(MidiRef client, const std::string& name)
{
    if (m_seq == nullptr || !keyOf(client)) return kMidiNoRef;
    int port;
    {
        std::lock_guard lock(m_seqMutex);
        port = snd_seq_create_simple_port(m_seq, name.c_str(), kReadCaps,
                                          SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    }
    if (port < 0) return kMidiNoRef;
    {
        std::lock_guard lock(m_mutex);
        m_outputPorts.insert(port);
    }
    return refFor(Kind::Port, m_ownClient, port);
}

void AlsaMidiSystem::disposePort(MidiRef port)
{
    const auto key = keyOf(port);
    if (!key || std::get<0>(*key) != Kind::Port) return;
    const int alsaPort = std::get<2>(*key);
    {
        std::unique_lock lock(m_mutex);
        m_readers.erase(alsaPort);
        m_outputPorts.erase(alsaPort);
        if (std::this_thread::get_id() != m_thread.get_id())
            m_readsDone.wait(lock, [this] { return m_readsInFlight == 0; });
    }
    std::lock_guard lock(m_seqMutex);
    snd_seq_delete_simple_port(m_seq, alsaPort);
}

void AlsaMidiSystem::disposeClient(MidiRef client)
{
    std::lock_guard lock(m_mutex);
    m_clients.erase(client);
}

std::optional<AlsaMidiSystem::DeviceInfo> AlsaMidiSystem::queryDevice(int client)
{
    if (m_seq == nullptr || client == m_ownClient || client == SND_SEQ_CLIENT_SYSTEM) return std::nullopt;
    snd_seq_client_info_t* clientInfo;
    snd_seq_port_info_t* portInfo;
    snd_seq_client_info_alloca(&clientInfo);
    snd_seq_port_info_alloca(&portInfo);
    std::lock_guard lock(m_seqMutex);
    if (snd_seq_get_any_client_info(m_seq, client, clientInfo) < 0) return std::nullopt;
    DeviceInfo device;
    device.client = client;
    device.name = snd_seq_client_info_get_name(clientInfo);
    if (device.name == "Midi Through") return std::nullopt;
    snd_seq_port_info_set_client(portInfo, client);
    snd_seq_port_info_set_port(portInfo, -1);
    while (snd_seq_query_next_port(m_seq, portInfo) >= 0) {
        const unsigned caps = snd_seq_port_info_get_capability(portInfo);
        if (caps & SND_SEQ_PORT_CAP_NO_EXPORT) continue;
        PortInfo port;
        port.port = snd_seq_port_info_get_port(portInfo);
        port.name = snd_seq_port_info_get_name(portInfo);
        port.readable = (caps & kReadCaps) == kReadCaps;
        port.writable = (caps & kWriteCaps) == kWriteCaps;
        if (port.readable || port.writable) device.ports.push_back(port);
    }
    if (device.ports.empty()) return std::nullopt;
    return device;
}

std::vector<AlsaMidiSystem::DeviceInfo> AlsaMidiSystem::queryDevices()
{
    std::vector<DeviceInfo> devices;
    if (m_seq == nullptr) return devices;
    std::vector<int> clients;
    {
        snd_seq_client_info_t* clientInfo;
        snd_seq_client_info_alloca(&clientInfo);
        std::lock_guard lock(m_seqMutex);
        snd_seq_client_info_set_client(clientInfo, -1);
        while (snd_seq_query_next_client(m_seq, clientInfo) >= 0)
            clients.push_back(snd_seq_client_info_get_client(clientInfo));
    }
    for (int client : clients)
        if (auto device = queryDevice(client)) devices.push_back(std::move(*device));
    return devices;
}

std::size_t AlsaMidiSystem::numberOfDevices() { return queryDevices().size(); }

MidiRef AlsaMidiSystem::device(std::size_t index)
{
    const auto devices = queryDevices();
    return index < devices.size() ? refFor(Kind::Device, devices[index].client, 0) : kMidiNoRef;
}

std::size_t AlsaMidiSystem::numberOfEntities(MidiRef device)
{
    const auto key = keyOf(device);
    if (!key || std::get<0>(*key) != Kind::Device) return 0;
    const auto info = queryDevice(std::get<1>(*key));
    return info ? info->ports.size() : 0;
}

MidiRef AlsaMidiSystem::entity(MidiRef device, std::size_t index)
{
    const auto key = keyOf(device);
    if (!key || std::get<0>(*key) != Kind::Device) return kMidiNoRef;
    const auto info = queryDevice(std::get<1>(*key));
    if (!info || index >= info->ports.size()) return kMidiNoRef;
    return refFor(Kind::Entity, info->client, info->ports[index].port);
}

std::optional<AlsaMidiSystem::PortInfo> AlsaMidiSystem::queryPort(MidiRef object, Kind expected)
{
    const auto key = keyOf(object);
    if (!key || std::get<0>(*key) != expected) return std::nullopt;
    const auto info = queryDevice(std::get<1>(*key));
    if (!info) return std::nullopt;
    for (const PortInfo& port : info->ports)
        if (port.port == std::get<2>(*key)) return port;
    return std::nullopt;
}

MidiRef AlsaMidiSystem::entitySource(MidiRef entity, std::size_t index)
{
    const auto port = queryPort(entity, Kind::Entity);
    if (!port || !port->readable || index != 0) return kMidiNoRef;
    return refFor(Kind::Source, std::get<1>(*keyOf(entity)), port->port);
}

MidiRef AlsaMidiSystem::entityDestination(MidiRef entity, std::size_t index)
{
    const auto port = queryPort(entity, Kind::Entity);
    if (!port || !port->writable || index != 0) return kMidiNoRef;
    return refFor(Kind::Destination, std::get<1>(*keyOf(entity)), port->port);
}

std::optional<std::int64_t> AlsaMidiSystem::integerProperty(MidiRef object, MidiProperty property)
{
    // The sequencer has no offline state: an unplugged card's client leaves the list instead.
    const auto key = keyOf(object);
    if (!key || property != MidiProperty::Offline) return std::nullopt;
    if (!queryDevice(std::get<1>(*key))) return std::nullopt;
    return 0;
}

bool AlsaMidiSystem::setIntegerProperty(MidiRef object, MidiProperty property, std::int64_t)
{
    // The kernel paces output itself; the speed is accepted and has no effect.
    return property == MidiProperty::MaxSysExSpeed && keyOf(object).has_value();
}

std::optional<std::string> AlsaMidiSystem::stringProperty(MidiRef object, MidiProperty property)
{
    const auto key = keyOf(object);
    if (!key || (property != MidiProperty::Name && property != MidiProperty::DisplayName)) return std::nullopt;
    const auto [kind, client, alsaPort] = *key;
    if (kind != Kind::Device && kind != Kind::Entity && kind != Kind::Source && kind != Kind::Destination)
        return std::nullopt;
    const auto info = queryDevice(client);
    if (!info) return std::nullopt;
    if (kind == Kind::Device) return info->name;
    for (const PortInfo& port : info->ports)
        if (port.port == alsaPort)
            return property == MidiProperty::Name ? port.name : info->name + " " + port.name;
    return std::nullopt;
}

bool AlsaMidiSystem::connectSource(MidiRef inputPort, MidiRef source)
{
    const auto port = keyOf(inputPort);
    const auto from = keyOf(source);
    if (m_seq == nullptr || !port || !from || std::get<0>(*port) != Kind::Port || std::get<0>(*from) != Kind::Source)
        return false;
    std::lock_guard lock(m_seqMutex);
    return snd_seq_connect_from(m_seq, std::get<2>(*port), std::get<1>(*from), std::get<2>(*from)) >= 0;
}

bool AlsaMidiSystem::disconnectSource(MidiRef inputPort, MidiRef source)
{
    const auto port = keyOf(inputPort);
    const auto from = keyOf(source);
    if (m_seq == nullptr || !port || !from || std::get<0>(*port) != Kind::Port || std::get<0>(*from) != Kind::Source)
        return false;
    std::lock_guard lock(m_seqMutex);
    return snd_seq_disconnect_from(m_seq, std::get<2>(*port), std::get<1>(*from), std::get<2>(*from)) >= 0;
}

bool AlsaMidiSystem::drainOutput()
{
    // Called with m_seqMutex held. Waits for room a bounded number of times, so a receiver that stopped
    // reading cannot hold the sender forever.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int left = snd_seq_drain_output(m_seq);
        if (left == 0) return true;
        if (left < 0 && left != -EAGAIN) return false;
        pollfd fd{};
        if (snd_seq_poll_descriptors(m_seq, &fd, 1, POLLOUT) != 1) return false;
        poll(&fd, 1, 20);
    }
    return false;
}

bool AlsaMidiSystem::sendSysex(MidiRef outputPort, MidiRef destination, const std::uint8_t* bytes,
                               std::size_t size, MidiCompletion completion)
{
    const auto port = keyOf(outputPort);
    const auto to = keyOf(destination);
    if (m_seq == nullptr || !port || !to || std::get<0>(*port) != Kind::Port ||
        std::get<0>(*to) != Kind::Destination)
        return false;
    bool sent = true;
    {
        std::lock_guard lock(m_seqMutex);
        for (std::size_t offset = 0; offset < size && sent; offset += kSysExChunk) {
            snd_seq_event_t event;
            snd_seq_ev_clear(&event);
            snd_seq_ev_set_source(&event, std::get<2>(*port));
            snd_seq_ev_set_dest(&event, std::get<1>(*to), std::get<2>(*to));
            snd_seq_ev_set_direct(&event);
            snd_seq_ev_set_sysex(&event, static_cast<unsigned>(std::min(kSysExChunk, size - offset)),
                                 const_cast<std::uint8_t*>(bytes + offset));
            int result;
            while ((result = snd_seq_event_output(m_seq, &event)) == -EAGAIN)
                if (!drainOutput()) break;
            sent = result >= 0;
        }
        sent = sent && drainOutput();
    }
    if (!sent) RIG_LOG("sending %zu SysEx bytes to the sequencer failed", size);
    if (completion) completion();
    return sent;
}

void AlsaMidiSystem::notify(const MidiNotification& notification)
{
    std::vector<std::shared_ptr<const MidiNotifyProc>> procs;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [ref, proc] : m_clients) procs.push_back(proc);
    }
    for (auto& proc : procs) m_dispatch.main().async([proc, notification] { (*proc)(notification); });
}

void AlsaMidiSystem::handleAnnounce(int type, int client)
{
    if (client == m_ownClient) return;
    const bool listed = queryDevice(client).has_value();
    bool wasListed;
    {
        std::lock_guard lock(m_mutex);
        wasListed = m_announced.contains(client);
        if (listed) m_announced.insert(client);
        else m_announced.erase(client);
    }
    const MidiRef device = refFor(Kind::Device, client, 0);
    MidiNotification notification;
    if (listed && !wasListed) {
        notification.kind = MidiNotificationKind::ObjectAdded;
        notification.child = device;
        notification.childType = MidiObjectType::Device;
    } else if (!listed && wasListed) {
        notification.kind = MidiNotificationKind::ObjectRemoved;
        notification.child = device;
        notification.childType = MidiObjectType::Device;
    } else if (listed && type != SND_SEQ_EVENT_CLIENT_START) {
        notification.kind = MidiNotificationKind::PropertyChanged;
        notification.object = device;
        notification.objectType = MidiObjectType::Device;
        notification.propertyName = midiPropertyName(MidiProperty::Name);
    } else {
        return;
    }
    if (type == SND_SEQ_EVENT_CLIENT_EXIT) {
        // The client number may come back as another device; it must not inherit these references.
        std::lock_guard lock(m_mutex);
        for (auto it = m_refs.begin(); it != m_refs.end();) {
            const auto [kind, owner, port] = it->first;
            if (owner == client && kind != Kind::Device) {
                m_keys.erase(it->second);
                it = m_refs.erase(it);
            } else {
                ++it;
            }
        }
    }
    notify(notification);
}

void AlsaMidiSystem::run()
{
    pthread_setname_np(pthread_self(), "alsa-midi");
    while (true) {
        std::vector<pollfd> fds(1);
        fds[0] = pollfd{m_wakeFd, POLLIN, 0};
        {
            std::lock_guard lock(m_seqMutex);
            const int count = snd_seq_poll_descriptors_count(m_seq, POLLIN);
            fds.resize(1 + static_cast<std::size_t>(std::max(count, 0)));
            snd_seq_poll_descriptors(m_seq, fds.data() + 1, static_cast<unsigned>(count), POLLIN);
        }
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
        if (fds[0].revents & POLLIN) return;

        struct Incoming {
            int announceType = -1;
            int announceClient = -1;
            int port = -1;
            MidiPacket bytes;
        };
        std::vector<Incoming> incoming;
        {
            std::lock_guard lock(m_seqMutex);
            snd_seq_event_t* event = nullptr;
            while (snd_seq_event_input(m_seq, &event) >= 0 && event != nullptr) {
                Incoming item;
                if (event->source.client == SND_SEQ_CLIENT_SYSTEM &&
                    event->source.port == SND_SEQ_PORT_SYSTEM_ANNOUNCE) {
                    switch (event->type) {
                    case SND_SEQ_EVENT_CLIENT_START:
                    case SND_SEQ_EVENT_CLIENT_EXIT:
                    case SND_SEQ_EVENT_CLIENT_CHANGE:
                    case SND_SEQ_EVENT_PORT_START:
                    case SND_SEQ_EVENT_PORT_EXIT:
                    case SND_SEQ_EVENT_PORT_CHANGE:
                        item.announceType = event->type;
                        item.announceClient = event->data.addr.client;
                        incoming.push_back(std::move(item));
                        break;
                    default: break;
                    }
                    continue;
                }
                item.port = event->dest.port;
                if (event->type == SND_SEQ_EVENT_SYSEX) {
                    const auto* data = static_cast<const std::uint8_t*>(event->data.ext.ptr);
                    item.bytes.assign(data, data + event->data.ext.len);
                } else if (m_decoder != nullptr) {
                    unsigned char buffer[16];
                    const long length = snd_midi_event_decode(m_decoder, buffer, sizeof buffer, event);
                    if (length > 0) item.bytes.assign(buffer, buffer + length);
                }
                if (!item.bytes.empty()) incoming.push_back(std::move(item));
            }
        }
        for (Incoming& item : incoming) {
            if (item.announceType >= 0) {
                handleAnnounce(item.announceType, item.announceClient);
                continue;
            }
            std::shared_ptr<const MidiReadProc> reader;
            {
                std::lock_guard lock(m_mutex);
                const auto it = m_readers.find(item.port);
                if (it == m_readers.end()) continue;
                reader = it->second;
                ++m_readsInFlight;
            }
            (*reader)(MidiPacketList{std::move(item.bytes)});
            {
                std::lock_guard lock(m_mutex);
                --m_readsInFlight;
            }
            m_readsDone.notify_all();
        }
    }
}

}  // namespace platform
