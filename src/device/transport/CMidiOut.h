#pragma once

#include <cstdint>
#include <mutex>

#include "platform/midi/MidiSystem.h"

// The output side of the transport: owns the output port and sends one whole SysEx message at a time to
// the connected destination.
class CMidiOut {
public:
    // The largest message, F0 and F7 included, that is ever sent.
    static constexpr std::int64_t kMaxMessageSize = 1023;

    explicit CMidiOut(platform::MidiSystem& system);
    ~CMidiOut();
    CMidiOut(const CMidiOut&) = delete;
    CMidiOut& operator=(const CMidiOut&) = delete;

    void openOutputPortWithClient(platform::MidiRef client);
    void start(platform::MidiRef destination);
    void disconnectDestionation();
    void closeOutputPort();
    // Bytes of a whole message (F0 .. F7). Nothing is sent without a destination or above 1023 bytes; the
    // caller learns of a lost message only by the missing reply. Returns at once; messages leave in order.
    void sendSysExMessage(const std::uint8_t* bytes, std::int64_t size);
    static void sendComplete() {}

    platform::MidiRef outPort() const;
    platform::MidiRef destination() const;

private:
    platform::MidiSystem& m_system;
    mutable std::mutex m_mutex;
    platform::MidiRef m_outPort = platform::kMidiNoRef;
    platform::MidiRef m_destination = platform::kMidiNoRef;
};
