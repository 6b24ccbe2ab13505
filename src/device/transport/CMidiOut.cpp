#include "device/transport/CMidiOut.h"

#include "common/Log.h"

CMidiOut::CMidiOut(platform::MidiSystem& system) : m_system(system) {}

CMidiOut::~CMidiOut() { closeOutputPort(); }

void CMidiOut::openOutputPortWithClient(platform::MidiRef client)
{
    const platform::MidiRef port = m_system.createOutputPort(client, "PEXO Rigmora Out");
    if (port == platform::kMidiNoRef) RIG_LOG("the MIDI output port could not be created");
    std::lock_guard lock(m_mutex);
    m_outPort = port;
}

void CMidiOut::start(platform::MidiRef destination)
{
    std::lock_guard lock(m_mutex);
    m_destination = destination;
}

void CMidiOut::disconnectDestionation()
{
    std::lock_guard lock(m_mutex);
    m_destination = platform::kMidiNoRef;
}

void CMidiOut::closeOutputPort()
{
    std::lock_guard lock(m_mutex);
    if (m_outPort == platform::kMidiNoRef) return;
    m_system.disposePort(m_outPort);
    m_outPort = platform::kMidiNoRef;
}

platform::MidiRef CMidiOut::outPort() const
{
    std::lock_guard lock(m_mutex);
    return m_outPort;
}

platform::MidiRef CMidiOut::destination() const
{
    std::lock_guard lock(m_mutex);
    return m_destination;
}

void CMidiOut::sendSysExMessage(const std::uint8_t* bytes, std::int64_t size)
{
    platform::MidiRef port, destination;
    {
        std::lock_guard lock(m_mutex);
        port = m_outPort;
        destination = m_destination;
    }
    if (destination == platform::kMidiNoRef) {
        RIG_LOG("no MIDI destination; a %lld-byte message was not sent", static_cast<long long>(size));
        return;
    }
    if (bytes == nullptr || size <= 0 || size > kMaxMessageSize) {
        RIG_LOG("a %lld-byte message was not sent", static_cast<long long>(size));
        return;
    }
    // No flush before sending: the previous request may still be on its way, and dropping it would lose
    // the reply the layers above wait for. The backend keeps messages to one destination in order.
    if (!m_system.sendSysex(port, destination, bytes, static_cast<std::size_t>(size), &CMidiOut::sendComplete))
        RIG_LOG("the MIDI system refused a %lld-byte message", static_cast<long long>(size));
}
