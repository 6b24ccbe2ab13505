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
    setHandler(RequestKey::identity(),
               [](SimulatedDevice& device, const Bytes&) { device.reply(identityReply(device.state().identity)); });
    m_port->setTimedReceiver([this](const Bytes& message, Clock::time_point sent) { receive(message, sent); });
}

std::size_t SimulatedDevice::requestCount(const RequestKey& key) const
{
    std::lock_guard lock(m_mutex);
    return static_cast<std::size_t>(
        std::count_if(m_requests.begin(), m_requests.end(), [&](const Bytes& r) { return RequestKey::of(r) == key; }));
}

void SimulatedDevice::receive(const Bytes& message, Clock::time_point sent)
{
    Handler handler;
    Gate gate;
    RequestKey key;
    std::size_t countOfKey = 0;
    // The cable starts carrying the message when the host sent it, not when this thread got to it.
    Clock::time_point arrived = sent;
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(message);
        m_traffic.bytesToDevice += message.size();
        m_traffic.lastRequestSent = sent;
        if (m_pacing.bytesPerSecond > 0) {
            m_toDeviceFree = std::max(sent, m_toDeviceFree) + wireTime(m_pacing.bytesPerSecond, message.size());
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
    const auto deadline = bookReply(message.size());
    if (deadline != Clock::time_point{}) {
        waitUntil(deadline);
        const auto late = Clock::now() - deadline;
        std::lock_guard lock(m_mutex);
        m_traffic.late += late;
    }
    m_port->sendPacketLists({platform::MidiPacketList{message}});
}

Bytes SimulatedDevice::makerMessage(std::uint8_t function, const Bytes& body) const
{
    Bytes message{0xF0, RequestKey::kMaker, 0x00, state().identity.familyLow, function};
    message.insert(message.end(), body.begin(), body.end());
    message.push_back(0xF7);
    return message;
}

// F0 7E ch 06 02 7D famLo famHi memLo memHi v0..v3 F7; the host reads the family and member codes high byte
// first from the pairs.
Bytes SimulatedDevice::identityReply(const Identity& identity)
{
    Bytes message{0xF0, RequestKey::kUniversal, 0x00, 0x06, 0x02, RequestKey::kMaker,
                  identity.familyLow, identity.familyHigh, identity.memberLow, identity.memberHigh};
    message.insert(message.end(), identity.version.begin(), identity.version.end());
    message.push_back(0xF7);
    return message;
}

}  // namespace sim
