#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "device/transport/CMidiInDeleagte.h"
#include "device/transport/OKVSysExMessage.h"
#include "platform/midi/MidiSystem.h"

// The input side of the transport: owns the input port and reassembles the SysEx messages that arrive in
// pieces. Reassembly runs on the MIDI input thread only.
class CMidiIn {
public:
    // The most bytes one message may hold between its F0 and F7.
    static constexpr std::size_t kBufferSize = 1023;

    explicit CMidiIn(platform::MidiSystem& system);
    ~CMidiIn();
    CMidiIn(const CMidiIn&) = delete;
    CMidiIn& operator=(const CMidiIn&) = delete;

    void openInputPortWithClient(platform::MidiRef client);
    // Remembers the source and connects the input port to it.
    void start(platform::MidiRef source);
    void disconnectSource();
    void closeInputPort();
    void setCMidiInDelegate(CMidiInDeleagte* delegate) { m_delegate.store(delegate); }
    void receivedMIDI(std::vector<OKVSysExMessage> messages);

    // The input port's read procedure; public so tests can feed packet lists straight in.
    void midiInputCallback(const platform::MidiPacketList& packets);

    platform::MidiRef inPort() const;
    platform::MidiRef source() const;

private:
    platform::MidiSystem& m_system;
    mutable std::mutex m_mutex;  // the two references; reassembly state belongs to the input thread
    platform::MidiRef m_inPort = platform::kMidiNoRef;
    platform::MidiRef m_source = platform::kMidiNoRef;
    std::atomic<CMidiInDeleagte*> m_delegate{nullptr};

    bool m_sysExProcess = false;
    std::int64_t m_sysExCounter = 0;
    std::array<std::uint8_t, kBufferSize> m_bufferDataStorage{};
};
