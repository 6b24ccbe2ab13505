#include "platform/midi/VirtualMidiSystem.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace platform {

VirtualMidiSystem::VirtualMidiSystem(Dispatch& dispatch) : m_dispatch(dispatch) {}

VirtualMidiSystem::~VirtualMidiSystem()
{
    // Each thread posts to the other (device-side answers go to the input thread, replies handled on
    // the input thread send the next request to the device side): both stop before either is destroyed.
    // The device side first, as it is the one that produces input.
    m_deviceThread.stop();
    m_inputThread.stop();
}

MidiRef VirtualMidiSystem::newRef(MidiObjectType type, MidiRef parent, std::string name)
{
    const MidiRef ref = ++m_lastRef;
    m_objects[ref] = Object{type, parent, std::move(name)};
    return ref;
}

std::shared_ptr<VirtualMidiDevice> VirtualMidiSystem::addDevice(const std::string& name,
                                                                const std::vector<EntityShape>& entities)
{
    std::shared_ptr<VirtualMidiDevice> device;
    {
        std::lock_guard lock(m_mutex);
        const MidiRef deviceRef = newRef(MidiObjectType::Device, kMidiNoRef, name);
        std::vector<MidiRef> entityRefs, sources, destinations;
        for (std::size_t i = 0; i < entities.size(); ++i) {
            const std::string entityName = name + " " + std::to_string(i + 1);
            const MidiRef entity = newRef(MidiObjectType::Entity, deviceRef, entityName);
            entityRefs.push_back(entity);
            sources.push_back(entities[i].source ? newRef(MidiObjectType::Source, entity, entityName) : kMidiNoRef);
            destinations.push_back(entities[i].destination ? newRef(MidiObjectType::Destination, entity, entityName)
                                                           : kMidiNoRef);
        }
        device = std::make_shared<VirtualMidiDevice>(*this, name, deviceRef, std::move(entityRefs),
                                                     std::move(sources), std::move(destinations));
        m_devices[deviceRef] = DeviceEntry{device, true, false, m_nextOrder++};
    }
    MidiNotification added;
    added.kind = MidiNotificationKind::ObjectAdded;
    added.child = device->device();
    added.childType = MidiObjectType::Device;
    announce(added);
    return device;
}

std::shared_ptr<VirtualMidiDevice> VirtualMidiSystem::addDevice(const std::string& name)
{
    return addDevice(name, {EntityShape{}});
}

void VirtualMidiSystem::waitUntilDelivered()
{
    // A reply the device side sends while handling a message lands on the input thread after the device
    // thread went idle, so drain both until a round finds nothing left.
    for (int round = 0; round < 3; ++round) {
        m_deviceThread.waitIdle();
        m_inputThread.waitIdle();
    }
}

void VirtualMidiSystem::announce(const MidiNotification& notification)
{
    std::vector<std::shared_ptr<const MidiNotifyProc>> procs;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [ref, proc] : m_clients) procs.push_back(proc);
    }
    for (auto& proc : procs) m_dispatch.main().async([proc, notification] { (*proc)(notification); });
}

MidiRef VirtualMidiSystem::createClient(const std::string& name, MidiNotifyProc notify)
{
    std::lock_guard lock(m_mutex);
    const MidiRef ref = newRef(MidiObjectType::Client, kMidiNoRef, name);
    m_clients[ref] = std::make_shared<const MidiNotifyProc>(std::move(notify));
    return ref;
}

MidiRef VirtualMidiSystem::createInputPort(MidiRef client, const std::string& name, MidiReadProc read)
{
    std::lock_guard lock(m_mutex);
    if (!m_clients.contains(client)) return kMidiNoRef;
    const MidiRef ref = newRef(MidiObjectType::Port, client, name);
    m_inputPorts[ref] = InputPort{std::make_shared<const MidiReadProc>(std::move(read)), {}};
    return ref;
}

MidiRef VirtualMidiSystem::createOutputPort(MidiRef client, const std::string& name)
{
    std::lock_guard lock(m_mutex);
    if (!m_clients.contains(client)) return kMidiNoRef;
    const MidiRef ref = newRef(MidiObjectType::Port, client, name);
    m_outputPorts.insert(ref);
    return ref;
}

void VirtualMidiSystem::disposePort(MidiRef port)
{
    std::unique_lock lock(m_mutex);
    m_inputPorts.erase(port);
    m_outputPorts.erase(port);
    m_objects.erase(port);
    if (!m_inputThread.isCurrent()) m_readsDone.wait(lock, [this] { return m_readsInFlight == 0; });
}

void VirtualMidiSystem::disposeClient(MidiRef client)
{
    std::lock_guard lock(m_mutex);
    m_clients.erase(client);
    std::erase_if(m_inputPorts, [&](const auto& entry) { return m_objects[entry.first].parent == client; });
    std::erase_if(m_outputPorts, [&](MidiRef port) { return m_objects[port].parent == client; });
}

std::vector<const VirtualMidiSystem::DeviceEntry*> VirtualMidiSystem::listedDevices() const
{
    std::vector<const DeviceEntry*> listed;
    for (const auto& [ref, entry] : m_devices)
        if (entry.plugged) listed.push_back(&entry);
    std::sort(listed.begin(), listed.end(), [](auto* a, auto* b) { return a->order < b->order; });
    return listed;
}

std::size_t VirtualMidiSystem::numberOfDevices()
{
    std::lock_guard lock(m_mutex);
    return listedDevices().size();
}

MidiRef VirtualMidiSystem::device(std::size_t index)
{
    std::lock_guard lock(m_mutex);
    const auto listed = listedDevices();
    return index < listed.size() ? listed[index]->device->device() : kMidiNoRef;
}

std::size_t VirtualMidiSystem::numberOfEntities(MidiRef device)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_devices.find(device);
    return it != m_devices.end() && it->second.plugged ? it->second.device->entityCount() : 0;
}

MidiRef VirtualMidiSystem::entity(MidiRef device, std::size_t index)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_devices.find(device);
    if (it == m_devices.end() || !it->second.plugged || index >= it->second.device->entityCount()) return kMidiNoRef;
    return it->second.device->entity(index);
}

MidiRef VirtualMidiSystem::entitySource(MidiRef entity, std::size_t index)
{
    std::lock_guard lock(m_mutex);
    const DeviceEntry* entry = owner(entity);
    if (entry == nullptr || index != 0) return kMidiNoRef;
    for (std::size_t i = 0; i < entry->device->entityCount(); ++i)
        if (entry->device->entity(i) == entity) return entry->device->source(i);
    return kMidiNoRef;
}

MidiRef VirtualMidiSystem::entityDestination(MidiRef entity, std::size_t index)
{
    std::lock_guard lock(m_mutex);
    const DeviceEntry* entry = owner(entity);
    if (entry == nullptr || index != 0) return kMidiNoRef;
    for (std::size_t i = 0; i < entry->device->entityCount(); ++i)
        if (entry->device->entity(i) == entity) return entry->device->destination(i);
    return kMidiNoRef;
}

VirtualMidiSystem::DeviceEntry* VirtualMidiSystem::owner(MidiRef object)
{
    MidiRef ref = object;
    for (int depth = 0; depth < 3 && ref != kMidiNoRef; ++depth) {
        const auto found = m_devices.find(ref);
        if (found != m_devices.end()) return found->second.plugged ? &found->second : nullptr;
        const auto it = m_objects.find(ref);
        if (it == m_objects.end()) return nullptr;
        ref = it->second.parent;
    }
    return nullptr;
}

std::optional<std::int64_t> VirtualMidiSystem::integerProperty(MidiRef object, MidiProperty property)
{
    std::lock_guard lock(m_mutex);
    if (property == MidiProperty::Offline) {
        const DeviceEntry* entry = owner(object);
        if (entry == nullptr) return std::nullopt;
        return entry->offline ? 1 : 0;
    }
    const auto it = m_integerProperties.find({object, property});
    if (it == m_integerProperties.end()) return std::nullopt;
    return it->second;
}

bool VirtualMidiSystem::setIntegerProperty(MidiRef object, MidiProperty property, std::int64_t value)
{
    std::lock_guard lock(m_mutex);
    if (property != MidiProperty::MaxSysExSpeed || !m_objects.contains(object)) return false;
    m_integerProperties[{object, property}] = value;
    return true;
}

std::optional<std::string> VirtualMidiSystem::stringProperty(MidiRef object, MidiProperty property)
{
    std::lock_guard lock(m_mutex);
    if (property != MidiProperty::Name && property != MidiProperty::DisplayName) return std::nullopt;
    const auto it = m_objects.find(object);
    if (it == m_objects.end()) return std::nullopt;
    return it->second.name;
}

bool VirtualMidiSystem::connectSource(MidiRef inputPort, MidiRef source)
{
    std::lock_guard lock(m_mutex);
    const auto port = m_inputPorts.find(inputPort);
    const auto object = m_objects.find(source);
    if (port == m_inputPorts.end() || object == m_objects.end() || object->second.type != MidiObjectType::Source)
        return false;
    port->second.sources.insert(source);
    return true;
}

bool VirtualMidiSystem::disconnectSource(MidiRef inputPort, MidiRef source)
{
    std::lock_guard lock(m_mutex);
    const auto port = m_inputPorts.find(inputPort);
    return port != m_inputPorts.end() && port->second.sources.erase(source) > 0;
}

bool VirtualMidiSystem::sendSysex(MidiRef outputPort, MidiRef destination, const std::uint8_t* bytes,
                                  std::size_t size, MidiCompletion completion)
{
    {
        std::lock_guard lock(m_mutex);
        const auto object = m_objects.find(destination);
        if (!m_outputPorts.contains(outputPort) || object == m_objects.end() ||
            object->second.type != MidiObjectType::Destination)
            return false;
    }
    const auto sent = std::chrono::steady_clock::now();
    std::vector<std::uint8_t> message(bytes, bytes + size);
    m_deviceThread.post([this, destination, sent, message = std::move(message), completion = std::move(completion)] {
        std::shared_ptr<VirtualMidiDevice> device;
        {
            std::lock_guard lock(m_mutex);
            const DeviceEntry* entry = owner(destination);
            // An unplugged or offline device hears nothing; the bytes are gone like on a pulled cable.
            if (entry != nullptr && !entry->offline) device = entry->device;
        }
        if (device) device->deliver(message, sent);
        if (completion) completion();
    });
    return true;
}

void VirtualMidiSystem::deliverToHost(MidiRef device, MidiRef source, std::vector<MidiPacketList> lists)
{
    m_inputThread.post([this, device, source, lists = std::move(lists)] {
        VirtualMidiDevice::Pacing pacing;
        {
            std::lock_guard lock(m_mutex);
            const auto it = m_devices.find(device);
            if (it == m_devices.end()) return;
            pacing = it->second.device->pacing();
        }
        if (pacing.latencyPerMessage > Duration::zero()) std::this_thread::sleep_for(pacing.latencyPerMessage);
        for (const MidiPacketList& list : lists) {
            if (pacing.bytesPerSecond > 0) {
                std::size_t bytes = 0;
                for (const MidiPacket& packet : list) bytes += packet.size();
                std::this_thread::sleep_for(std::chrono::duration<double>(double(bytes) / pacing.bytesPerSecond));
            }
            std::vector<std::shared_ptr<const MidiReadProc>> readers;
            {
                std::lock_guard lock(m_mutex);
                const DeviceEntry* entry = owner(source);
                if (entry == nullptr || entry->offline) return;
                for (const auto& [ref, port] : m_inputPorts)
                    if (port.sources.contains(source)) readers.push_back(port.read);
                ++m_readsInFlight;
            }
            for (const auto& read : readers) (*read)(list);
            {
                std::lock_guard lock(m_mutex);
                --m_readsInFlight;
            }
            m_readsDone.notify_all();
        }
    });
}

void VirtualMidiSystem::setPlugged(MidiRef device, bool plugged)
{
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_devices.find(device);
        if (it == m_devices.end() || it->second.plugged == plugged) return;
        it->second.plugged = plugged;
        if (plugged) {
            it->second.order = m_nextOrder++;
        } else {
            // A removed endpoint feeds no port any more, as when the system drops it.
            for (auto& [ref, port] : m_inputPorts)
                for (std::size_t i = 0; i < it->second.device->entityCount(); ++i)
                    port.sources.erase(it->second.device->source(i));
        }
    }
    MidiNotification notification;
    notification.kind = plugged ? MidiNotificationKind::ObjectAdded : MidiNotificationKind::ObjectRemoved;
    notification.child = device;
    notification.childType = MidiObjectType::Device;
    announce(notification);
}

void VirtualMidiSystem::setOffline(MidiRef device, bool offline)
{
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_devices.find(device);
        if (it == m_devices.end() || !it->second.plugged || it->second.offline == offline) return;
        it->second.offline = offline;
    }
    MidiNotification notification;
    notification.kind = MidiNotificationKind::PropertyChanged;
    notification.object = device;
    notification.objectType = MidiObjectType::Device;
    notification.propertyName = midiPropertyName(MidiProperty::Offline);
    announce(notification);
}

bool VirtualMidiSystem::isPlugged(MidiRef device) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_devices.find(device);
    return it != m_devices.end() && it->second.plugged;
}

bool VirtualMidiSystem::isOffline(MidiRef device) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_devices.find(device);
    return it != m_devices.end() && it->second.offline;
}

}  // namespace platform
