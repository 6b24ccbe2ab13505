#include "support/device/SimulatedDevice.h"

namespace sim {

SimulatedDevice::SimulatedDevice(platform::VirtualMidiSystem& system, const std::string& name)
    : m_port(system.addDevice(name))
{
    installBuiltInHandlers();
    m_port->setReceiver([this](const Bytes& message) { receive(message); });
}

SimulatedDevice::~SimulatedDevice() { m_port->setReceiver(nullptr); }

void SimulatedDevice::installBuiltInHandlers()
{
    setHandler(RequestKey::identity(),
               [](SimulatedDevice& device, const Bytes&) { device.reply(identityReply(device.state().identity)); });
}

void SimulatedDevice::setState(const State& state)
{
    std::lock_guard lock(m_mutex);
    m_state = state;
}

SimulatedDevice::State SimulatedDevice::state() const
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

void SimulatedDevice::setFaults(const Faults& faults)
{
    std::lock_guard lock(m_mutex);
    m_faults = faults;
}

SimulatedDevice::Faults SimulatedDevice::faults() const
{
    std::lock_guard lock(m_mutex);
    return m_faults;
}

void SimulatedDevice::setHandler(const RequestKey& key, Handler handler)
{
    std::lock_guard lock(m_mutex);
    m_handlers[key] = std::move(handler);
}

void SimulatedDevice::removeHandler(const RequestKey& key)
{
    std::lock_guard lock(m_mutex);
    m_handlers.erase(key);
}

std::vector<Bytes> SimulatedDevice::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::size_t SimulatedDevice::requestCount(const RequestKey& key) const
{
    std::lock_guard lock(m_mutex);
    std::size_t count = 0;
    for (const Bytes& request : m_requests)
        if (RequestKey::of(request) == key) ++count;
    return count;
}

void SimulatedDevice::receive(const Bytes& message)
{
    Handler handler;
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(message);
        const auto key = RequestKey::of(message);
        if (!key) return;
        auto silent = m_faults.silentFor.find(*key);
        if (silent != m_faults.silentFor.end() && silent->second > 0) {
            --silent->second;
            return;
        }
        const auto it = m_handlers.find(*key);
        if (it == m_handlers.end()) return;
        handler = it->second;
    }
    handler(*this, message);
}

void SimulatedDevice::reply(const Bytes& message)
{
    const Faults faults = this->faults();
    std::vector<std::size_t> cuts = faults.splitPoints;
    if (faults.splitEvery > 0)
        for (std::size_t at = faults.splitEvery; at < message.size(); at += faults.splitEvery) cuts.push_back(at);
    std::sort(cuts.begin(), cuts.end());

    std::vector<platform::MidiPacketList> lists;
    std::size_t start = 0;
    auto emit = [&](std::size_t end) {
        platform::MidiPacket packet;
        if (faults.realTimeBetweenPackets && start > 0) packet = {0xF8, 0xFE};
        packet.insert(packet.end(), message.begin() + static_cast<std::ptrdiff_t>(start),
                      message.begin() + static_cast<std::ptrdiff_t>(end));
        lists.push_back({std::move(packet)});
        start = end;
    };
    for (std::size_t cut : cuts)
        if (cut > start && cut < message.size()) emit(cut);
    emit(message.size());
    m_port->sendPacketLists(std::move(lists));
}

Bytes SimulatedDevice::makerMessage(std::uint8_t function, const Bytes& body) const
{
    Bytes message{0xF0, RequestKey::kMaker, 0x00, state().identity.familyLow, function};
    message.insert(message.end(), body.begin(), body.end());
    message.push_back(0xF7);
    return message;
}

Bytes SimulatedDevice::identityReply(const Identity& identity)
{
    // F0 7E ch 06 02 7D famLo famHi memLo memHi v0..v3 F7; the host reads the family and member codes
    // high byte first from the pairs.
    Bytes message{0xF0, RequestKey::kUniversal, 0x00, 0x06, 0x02, RequestKey::kMaker,
                  identity.familyLow, identity.familyHigh, identity.memberLow, identity.memberHigh};
    message.insert(message.end(), identity.version.begin(), identity.version.end());
    message.push_back(0xF7);
    return message;
}

}  // namespace sim
