#include "support/device/SimulatedDevice.h"

#include <sys/prctl.h>

#include <optional>
#include <thread>

namespace sim {

namespace {

// When the request being answered on this thread was whole at the device; nothing outside a handler.
thread_local std::optional<std::chrono::steady_clock::time_point> t_requestArrived;

std::chrono::steady_clock::duration wireTime(double bytesPerSecond, std::size_t bytes)
{
    if (bytesPerSecond <= 0) return {};
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) / bytesPerSecond));
}

}  // namespace

SimulatedDevice::SimulatedDevice(platform::VirtualMidiSystem& system, const std::string& name)
    : m_port(system.addDevice(name))
{
    installBuiltInHandlers();
    m_port->setTimedReceiver([this](const Bytes& message, Clock::time_point sent) { receive(message, sent); });
}

SimulatedDevice::~SimulatedDevice() { stop(); }

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

void SimulatedDevice::setPacing(const Pacing& pacing)
{
    std::lock_guard lock(m_mutex);
    m_pacing = pacing;
}

SimulatedDevice::Traffic SimulatedDevice::traffic() const
{
    std::lock_guard lock(m_mutex);
    return m_traffic;
}

void SimulatedDevice::setHandler(const RequestKey& key, Handler handler)
{
    std::lock_guard lock(m_mutex);
    m_handlers[key] = std::move(handler);
}

void SimulatedDevice::setGate(Gate gate)
{
    std::lock_guard lock(m_mutex);
    m_gate = std::move(gate);
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

void SimulatedDevice::receive(const Bytes& message, Clock::time_point sent)
{
    Handler handler;
    Gate gate;
    RequestKey key;
    std::size_t countOfKey = 0;
    // The cable starts carrying the message when the host sent it, not when this thread got to it.
    const auto now = sent;
    Clock::time_point arrived = now;
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(message);
        m_traffic.bytesToDevice += message.size();
        m_traffic.lastRequestSent = sent;
        if (m_pacing.bytesPerSecond > 0) {
            m_toDeviceFree = std::max(now, m_toDeviceFree) + wireTime(m_pacing.bytesPerSecond, message.size());
            arrived = m_toDeviceFree;
        }
        const auto parsed = RequestKey::of(message);
        if (!parsed) return;
        key = *parsed;
        countOfKey = ++m_counts[key];
        auto silent = m_faults.silentFor.find(key);
        if (silent != m_faults.silentFor.end() && silent->second > 0) {
            --silent->second;
            return;
        }
        const auto it = m_handlers.find(key);
        if (it == m_handlers.end()) return;
        handler = it->second;
        gate = m_gate;
    }
    // Outside the lock: a gate may pull the cable, which tells the host.
    if (gate && !gate(key, countOfKey)) return;
    t_requestArrived = arrived;
    handler(*this, message);
    t_requestArrived.reset();
}

SimulatedDevice::Clock::time_point SimulatedDevice::bookReply(std::size_t bytes)
{
    const auto from = t_requestArrived.value_or(Clock::now());
    std::lock_guard lock(m_mutex);
    m_traffic.bytesToHost += bytes;
    ++m_traffic.replies;
    if (m_pacing.bytesPerSecond <= 0 && m_pacing.latencyPerReply <= std::chrono::nanoseconds::zero()) return {};
    // Replies queue for the wire one after the other, each after its own latency: the floor's model.
    m_toHostFree = std::max(from, m_toHostFree) +
                   std::chrono::duration_cast<Clock::duration>(m_pacing.latencyPerReply) +
                   wireTime(m_pacing.bytesPerSecond, bytes);
    return m_toHostFree;
}

// One absolute wait per reply: a sleep with the least timer slack to just short of the deadline, then a
// spin, so the reply lands on time instead of a scheduler tick late.
void SimulatedDevice::waitUntil(Clock::time_point deadline)
{
    static thread_local const bool leastSlack = prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL) == 0;
    (void)leastSlack;
    constexpr auto kSpin = std::chrono::microseconds(60);
    if (deadline - Clock::now() > kSpin) std::this_thread::sleep_until(deadline - kSpin);
    while (Clock::now() < deadline) {
    }
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
    std::size_t bytes = 0;
    for (const auto& list : lists)
        for (const auto& packet : list) bytes += packet.size();
    const auto deadline = bookReply(bytes);
    if (deadline != Clock::time_point{}) {
        waitUntil(deadline);
        const auto late = Clock::now() - deadline;
        std::lock_guard lock(m_mutex);
        m_traffic.late += late;
    }
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
