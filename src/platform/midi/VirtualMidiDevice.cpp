#include "platform/midi/VirtualMidiDevice.h"

#include "platform/midi/VirtualMidiSystem.h"

namespace platform {

VirtualMidiDevice::VirtualMidiDevice(VirtualMidiSystem& system, std::string name, MidiRef device,
                                     std::vector<MidiRef> entities, std::vector<MidiRef> sources,
                                     std::vector<MidiRef> destinations)
    : m_system(system),
      m_name(std::move(name)),
      m_device(device),
      m_entities(std::move(entities)),
      m_sources(std::move(sources)),
      m_destinations(std::move(destinations))
{
}

void VirtualMidiDevice::setReceiver(Receiver receiver)
{
    if (!receiver) {
        setTimedReceiver(nullptr);
        return;
    }
    setTimedReceiver([receiver = std::move(receiver)](const std::vector<std::uint8_t>& message,
                                                      std::chrono::steady_clock::time_point) { receiver(message); });
}

void VirtualMidiDevice::setTimedReceiver(TimedReceiver receiver)
{
    std::lock_guard calling(m_calling);
    std::lock_guard lock(m_mutex);
    m_receiver = std::move(receiver);
}

void VirtualMidiDevice::deliver(const std::vector<std::uint8_t>& message, std::chrono::steady_clock::time_point sent)
{
    std::lock_guard calling(m_calling);
    TimedReceiver receiver;
    {
        std::lock_guard lock(m_mutex);
        receiver = m_receiver;
    }
    if (receiver) receiver(message, sent);
}

void VirtualMidiDevice::setPacing(Pacing pacing)
{
    std::lock_guard lock(m_mutex);
    m_pacing = pacing;
}

VirtualMidiDevice::Pacing VirtualMidiDevice::pacing() const
{
    std::lock_guard lock(m_mutex);
    return m_pacing;
}

void VirtualMidiDevice::send(std::vector<std::uint8_t> bytes, const std::vector<std::size_t>& splitPoints)
{
    std::vector<MidiPacketList> lists;
    std::size_t start = 0;
    for (std::size_t point : splitPoints) {
        if (point <= start || point >= bytes.size()) continue;
        lists.push_back({MidiPacket(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                                    bytes.begin() + static_cast<std::ptrdiff_t>(point))});
        start = point;
    }
    if (start < bytes.size())
        lists.push_back({MidiPacket(bytes.begin() + static_cast<std::ptrdiff_t>(start), bytes.end())});
    sendPacketLists(std::move(lists));
}

void VirtualMidiDevice::sendPacketLists(std::vector<MidiPacketList> lists)
{
    MidiRef from = kMidiNoRef;
    for (MidiRef source : m_sources) {
        if (source != kMidiNoRef) {
            from = source;
            break;
        }
    }
    if (from == kMidiNoRef || lists.empty()) return;
    m_system.deliverToHost(m_device, from, std::move(lists));
}

void VirtualMidiDevice::unplug() { m_system.setPlugged(m_device, false); }
void VirtualMidiDevice::plugIn() { m_system.setPlugged(m_device, true); }
void VirtualMidiDevice::setOffline(bool offline) { m_system.setOffline(m_device, offline); }
bool VirtualMidiDevice::isPlugged() const { return m_system.isPlugged(m_device); }
bool VirtualMidiDevice::isOffline() const { return m_system.isOffline(m_device); }

}  // namespace platform
