#include "device/transport/CMidiIn.h"

#include "common/Log.h"

CMidiIn::CMidiIn(platform::MidiSystem& system) : m_system(system) {}

CMidiIn::~CMidiIn() { closeInputPort(); }

void CMidiIn::openInputPortWithClient(platform::MidiRef client)
{
    const platform::MidiRef port =
        m_system.createInputPort(client, "PEXO Rigmora In", [this](const platform::MidiPacketList& packets) {
            midiInputCallback(packets);
        });
    if (port == platform::kMidiNoRef) RIG_LOG("the MIDI input port could not be created");
    std::lock_guard lock(m_mutex);
    m_inPort = port;
}

void CMidiIn::start(platform::MidiRef source)
{
    std::lock_guard lock(m_mutex);
    m_source = source;
    if (!m_system.connectSource(m_inPort, source)) RIG_LOG("connecting the MIDI source %u failed", source);
}

void CMidiIn::disconnectSource()
{
    std::lock_guard lock(m_mutex);
    if (m_source != platform::kMidiNoRef) m_system.disconnectSource(m_inPort, m_source);
    m_source = platform::kMidiNoRef;
}

void CMidiIn::closeInputPort()
{
    std::lock_guard lock(m_mutex);
    if (m_inPort == platform::kMidiNoRef) return;
    m_system.disposePort(m_inPort);
    m_inPort = platform::kMidiNoRef;
}

void CMidiIn::receivedMIDI(std::vector<OKVSysExMessage> messages)
{
    if (CMidiInDeleagte* delegate = m_delegate.load()) delegate->receiveMessagesFromDevice(std::move(messages));
}

platform::MidiRef CMidiIn::inPort() const
{
    std::lock_guard lock(m_mutex);
    return m_inPort;
}

platform::MidiRef CMidiIn::source() const
{
    std::lock_guard lock(m_mutex);
    return m_source;
}

void CMidiIn::midiInputCallback(const platform::MidiPacketList& packets)
{
    // Each byte is judged by its value, not by where a packet happens to cut the stream: devices interleave
    // clock and active sensing with SysEx, and a packet may end and begin anywhere in a message.
    std::vector<OKVSysExMessage> complete;
    for (const platform::MidiPacket& packet : packets) {
        for (const std::uint8_t byte : packet) {
            if (byte == 0xF0) {
                if (m_sysExProcess) RIG_LOG("a new SysEx began before the end of the open one; dropped it");
                m_sysExProcess = true;
                m_sysExCounter = 0;
            } else if (byte == 0xF7) {
                if (m_sysExProcess) complete.emplace_back(m_bufferDataStorage.data(), m_sysExCounter);
                m_sysExProcess = false;
            } else if (byte >= 0xF8) {
                // Real-time bytes may appear anywhere and belong to no message.
            } else if (byte >= 0x80) {
                if (m_sysExProcess) RIG_LOG("status byte 0x%02X inside a SysEx; dropped the open message", byte);
                m_sysExProcess = false;
            } else if (m_sysExProcess) {
                if (m_sysExCounter == static_cast<std::int64_t>(kBufferSize)) {
                    // Dropped whole rather than cut: a cut reply would be read as a shorter valid one.
                    RIG_LOG("an incoming SysEx longer than %zu bytes was dropped", kBufferSize);
                    m_sysExProcess = false;
                    continue;
                }
                m_bufferDataStorage[static_cast<std::size_t>(m_sysExCounter++)] = byte;
            }
        }
    }
    if (!complete.empty()) receivedMIDI(std::move(complete));
}
