#include <gtest/gtest.h>

#include <random>

#include "device/transport/CMidiIn.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/midi/VirtualMidiSystem.h"

namespace {

// A MIDI input on the virtual system whose delegate collects every batch of completed messages.
struct InFixture : CMidiInDeleagte {
    platform::RunLoop loop;
    platform::Dispatch dispatch{loop, 1};
    platform::VirtualMidiSystem system{dispatch};
    CMidiIn in{system};
    std::vector<std::vector<OKVSysExMessage>> batches;
    InFixture() { in.setCMidiInDelegate(this); }
    void receiveMessagesFromDevice(std::vector<OKVSysExMessage> messages) override
    {
        batches.push_back(std::move(messages));
    }
    void feed(const platform::MidiPacketList& list) { in.midiInputCallback(list); }
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

Bytes wire(Bytes body)
{
    body.insert(body.begin(), 0xF0);
    body.push_back(0xF7);
    return body;
}

}  // namespace

TEST(CMidiIn, ReassemblesAcrossPacketsAndBatchesCompletedMessagesTogether)
{
    InFixture f;
    f.feed({{0xF0, 1, 2}, {3}});
    EXPECT_TRUE(f.batches.empty());
    f.feed({{4, 0xF7}});
    // Two messages completed by one packet list arrive as one batch in order; a note-on between them,
    // outside any message, changes nothing.
    f.feed({{0xF0, 9, 0xF7}, {0x90, 0x40, 0x7F}, {0xF0, 8}, {0xF7}});
    ASSERT_EQ(f.batches.size(), 2u);
    EXPECT_EQ(f.batches[1].size(), 2u);
    EXPECT_EQ(f.all(), (std::vector<Bytes>{{1, 2, 3, 4}, {9}, {8}}));
}

TEST(CMidiIn, InterruptionsAndOverlongInputDropTheOpenMessageOnly)
{
    InFixture f;
    f.feed({{0xF0, 1, 2}, {0xF0, 3, 0xF7}});                   // a new F0 restarts
    f.feed({{0xF0, 1, 0xF8, 2, 0xFE, 0xFF, 3, 0xF7}});         // real-time bytes are skipped
    f.feed({{0xF0, 1, 0x90, 0x40, 0x7F, 2, 0xF7}});            // a status byte ends it; the rest is stray
    f.feed({{0xF0, 1, 0xF2, 0, 0, 0xF7}});                     // so does a system common byte
    f.feed({{0xF7}, {5, 6}});                                  // nothing open: ignored
    ASSERT_EQ(f.all(), (std::vector<Bytes>{{3}, {1, 2, 3}}));

    f.batches.clear();
    Bytes full(CMidiIn::kBufferSize, 0x55);
    Bytes over(CMidiIn::kBufferSize + 1, 0x66);
    f.feed({wire(full)});
    f.feed({wire(over)});
    f.feed({{0x11, 0xF7}});               // still waiting for F0 after the drop
    f.feed({wire({0x22})});
    EXPECT_EQ(f.all(), (std::vector<Bytes>{full, {0x22}}));  // exactly 1023 bytes still fit
}

TEST(CMidiIn, ThousandsOfRandomSplitsWithRealTimeBytesGiveTheSameMessages)
{
    std::mt19937 random(20240611);
    InFixture f;
    for (int round = 0; round < 2000; ++round) {
        f.batches.clear();
        std::vector<Bytes> sent;
        Bytes stream;
        const int messages = 1 + int(random() % 4);
        for (int m = 0; m < messages; ++m) {
            Bytes body(random() % (round % 50 == 0 ? 1024 : 40));
            for (auto& byte : body) byte = std::uint8_t(random() % 0x80);
            sent.push_back(body);
            const Bytes w = wire(body);
            stream.insert(stream.end(), w.begin(), w.end());
        }
        // Sprinkle clock and active sensing anywhere, then cut into packets and packet lists at random.
        Bytes noisy;
        for (std::uint8_t byte : stream) {
            if (random() % 8 == 0) noisy.push_back(random() % 2 ? 0xF8 : 0xFE);
            noisy.push_back(byte);
        }
        platform::MidiPacketList list;
        platform::MidiPacket packet;
        for (std::uint8_t byte : noisy) {
            packet.push_back(byte);
            if (random() % 5 == 0) {
                list.push_back(std::move(packet));
                packet.clear();
            }
            if (random() % 7 == 0 && !list.empty()) {
                f.feed(list);
                list.clear();
            }
        }
        if (!packet.empty()) list.push_back(packet);
        f.feed(list);
        ASSERT_EQ(f.all(), sent) << "round " << round;
    }
}

TEST(CMidiIn, ConnectsItsPortToOneSourceAtATime)
{
    InFixture f;
    auto& system = f.system;
    auto& in = f.in;
    const platform::MidiRef client = system.createClient("c", [](const platform::MidiNotification&) {});
    auto device = system.addDevice("D");
    in.openInputPortWithClient(client);
    ASSERT_NE(in.inPort(), platform::kMidiNoRef);
    in.start(device->source());
    EXPECT_EQ(in.source(), device->source());
    EXPECT_TRUE(system.disconnectSource(in.inPort(), device->source()));  // it was connected
    in.start(device->source());
    in.disconnectSource();
    EXPECT_EQ(in.source(), platform::kMidiNoRef);
    EXPECT_FALSE(system.disconnectSource(in.inPort(), device->source()));
    in.closeInputPort();
    EXPECT_EQ(in.inPort(), platform::kMidiNoRef);
}
