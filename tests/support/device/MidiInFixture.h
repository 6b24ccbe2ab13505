#pragma once

#include <gtest/gtest.h>
#include <random>

#include "device/transport/CMidiIn.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/midi/VirtualMidiSystem.h"

// A MIDI input on the virtual system whose delegate collects every batch of completed messages.
namespace support::midiin {

struct Collector : CMidiInDeleagte {
    std::vector<std::vector<OKVSysExMessage>> batches;
    void receiveMessagesFromDevice(std::vector<OKVSysExMessage> messages) override
    {
        batches.push_back(std::move(messages));
    }
    std::vector<Bytes> all() const
    {
        std::vector<Bytes> out;
        for (const auto& batch : batches)
            for (const auto& message : batch) {
                EXPECT_EQ(message.size, std::int64_t(message.byteData.size()));
                out.push_back(message.byteData);
            }
        return out;
    }
};

struct InFixture {
    platform::RunLoop loop;
    platform::Dispatch dispatch{loop, 1};
    platform::VirtualMidiSystem system{dispatch};
    CMidiIn in{system};
    Collector collector;
    InFixture() { in.setCMidiInDelegate(&collector); }
    void feed(const platform::MidiPacketList& list) { in.midiInputCallback(list); }
};

inline Bytes wire(const Bytes& body)
{
    Bytes message{0xF0};
    message.insert(message.end(), body.begin(), body.end());
    message.push_back(0xF7);
    return message;
}

}  // namespace support::midiin
