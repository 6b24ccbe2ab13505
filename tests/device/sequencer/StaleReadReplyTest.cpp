// The unit's late answer to an effect file's read cut by its watchdog, handed in while the next read of the
// file waits on any of its messages, after the unit was scanned and connected again.
#include <gtest/gtest.h>

#include "support/device/SequencerDeviceFixture.h"

using namespace support::sequencerdevice;

namespace {

struct Message {
    std::uint8_t sub;
    int occurrence;
};

// Find, its acknowledgement, find close, open, its acknowledgement, three chunks (count, data, and the code
// after the data's acknowledgement), close.
constexpr Message kRead[] = {{0x25, 1}, {0x05, 1}, {0x27, 1}, {0x20, 1}, {0x05, 2}, {0x22, 1}, {0x05, 3}, {0x05, 4},
                             {0x22, 2}, {0x05, 5}, {0x05, 6}, {0x22, 3}, {0x05, 7}, {0x05, 8}, {0x21, 1}};

// Every chunk different, so a chunk taken for another shows.
Bytes fileBytes()
{
    Bytes bytes(1300);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 512 * 31) & 0xFF);
    return bytes;
}

}  // namespace

// Every message held in the first read, against every message of the second the late answer lands before:
// the second read reports the file whole, or the late answer is never taken for one of its own.
TEST_F(SequencerDevice, ALateAnswerOfACutReadIsNeverTakenForTheNextReadsOwn)
{
    unit.files().setFile("B.QF2", fileBytes());
    for (std::size_t held = 0; held < std::size(kRead); ++held) {
        for (std::size_t landing = 0; landing < std::size(kRead); ++landing) {
            SCOPED_TRACE("held message " + std::to_string(held + 1) + ", landing before the answer to message " +
                         std::to_string(landing + 1));
            unit.clearFaults();
            recorder.take();
            connect();
            const auto heldKey = sim::RequestKey::fileSystem(kRead[held].sub);
            unit.lateReplyAt(heldKey, kRead[held].occurrence, 1 << 20);
            const std::size_t before = asked(0x60, kRead[held].sub);
            seq.getEffectWithFileName("B.QF2");
            ASSERT_TRUE(loop.runUntil(
                [&] { return asked(0x60, kRead[held].sub) == before + static_cast<std::size_t>(kRead[held].occurrence); }));
            // The watchdog is armed from the sequencer's queue: the clock moves on until it has fired.
            Strings cut;
            ASSERT_TRUE(loop.runUntil([&] {
                loop.advance(std::chrono::seconds(60));
                for (auto& event : recorder.take()) cut.push_back(std::move(event));
                return !cut.empty();
            }));
            ASSERT_EQ(cut, Strings{"read -1 none"});
            midi.waitUntilDelivered();

            connect();
            unit.handInLateReplyAfter(sim::RequestKey::fileSystem(kRead[landing].sub), kRead[landing].occurrence, false);
            seq.getEffectWithFileName("B.QF2");
            EXPECT_EQ(next(), Strings{"read 1 1300"});
            EXPECT_EQ(recorder.lastReadBytes(), fileBytes());
            seq.ejectDevice();
            ASSERT_EQ(next(), Strings{"eject 1 0"});
        }
    }
}
