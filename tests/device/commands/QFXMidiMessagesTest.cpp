#include <gtest/gtest.h>

#include <vector>

#include "device/formats/MIDIMessageUtil.h"
#include "device/commands/QFXMidiMessages.h"

namespace {

std::uint32_t fiveByte(const Bytes& message, std::size_t at)
{
    return *Convert7to32(message.data() + at, 5);
}

TEST(QFXMidiMessages, EveryFixedRequestGoesOutWithTheDeviceIdInByteThree)
{
    struct Case {
        Bytes sent, expected;
    };
    const auto with = [](const auto& message, std::uint8_t dev) { return QFXMidiMessages::withDeviceID(message, dev); };
    const std::uint8_t dev = 0x71;
    const std::vector<Case> cases{
        {with(OKV_MIDI_MSG_ENTER_PC_ASYNC_MODE, 0x70), {0xF0, 0x7D, 0x00, 0x70, 0x52, 0xF7}},
        {with(OKV_MIDI_MSG_FFS_ACK, 0x70), {0xF0, 0x7D, 0x00, 0x70, 0x60, 0x05, 0x00, 0xF7}},
        {with(OKV_MIDI_MSG_INFO_READ, 0x6E), {0xF0, 0x7D, 0x00, 0x6E, 0x60, 0x11, 0xF7}},
        // The universal identity request has no device byte to fill.
        {with(OKV_MIDI_MSG_IDENTIFY_REQUEST, 0x70), {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7}},
        {with(OKV_MIDI_MSG_TERMINATE_PC_ASYNC_MODE, dev), {0xF0, 0x7D, 0x00, dev, 0x53, 0xF7}},
        {with(OKV_MIDI_MSG_SUPPORT_QFX_INFORMATION_REQUEST, dev), {0xF0, 0x7D, 0x00, dev, 0x55, 0xF7}},
        {with(OKV_MIDI_MSG_SUPPORT_PATCH_INFORMATION_REQUEST, dev), {0xF0, 0x7D, 0x00, dev, 0x48, 0xF7}},
        {with(OKV_MIDI_MSG_ADVANCED_PATCH_DATA_INFORMATION_REQUEST, dev), {0xF0, 0x7D, 0x00, dev, 0x44, 0xF7}},
        {with(OKV_MIDI_MSG_DISABLE_AUDIO, dev), {0xF0, 0x7D, 0x00, dev, 0x56, 0xF7}},
        {with(OKV_MIDI_MSG_ENABLE_AUDIO, dev), {0xF0, 0x7D, 0x00, dev, 0x57, 0xF7}},
        {with(OKV_MIDI_MSG_ALL_PATCH_DATA_DUMP, dev), {0xF0, 0x7D, 0x00, dev, 0x05, 0xF7}},
        {with(OKV_MIDI_MSG_PACKET_PROCESSED, dev), {0xF0, 0x7D, 0x00, dev, 0x04, 0xF7}},
        {with(OKV_MIDI_MSG_F_DISKFREE, dev), {0xF0, 0x7D, 0x00, dev, 0x60, 0x29, 0xF7}},
        {with(OKV_MIDI_MSG_FIND_CLOSE, dev), {0xF0, 0x7D, 0x00, dev, 0x60, 0x27, 0xF7}},
        {with(OKV_MIDI_MSG_FFS_FILE_LIST_FLUSH, dev), {0xF0, 0x7D, 0x00, dev, 0x60, 0x09, 0xF7}},
        {with(OKV_MIDI_MSG_PATCH_DATA_DUMP_REQUEST, dev), {0xF0, 0x7D, 0x00, dev, 0x46, 0, 0, 0, 0, 0, 0, 0xF7}},
    };
    for (const auto& [sent, expected] : cases) EXPECT_EQ(sent, expected);
}

TEST(QFXMidiMessages, PatchDumpRequestEncodesEachAddressByteAsTwoStreamBytes)
{
    EXPECT_EQ(QFXMidiMessages::patchDumpRequest(0x70, 200, 5, 0),
              (Bytes{0xF0, 0x7D, 0x00, 0x70, 0x46, 0x48, 0x01, 0x05, 0x00, 0x00, 0x00, 0xF7}));
    EXPECT_FALSE(QFXMidiMessages::patchDumpRequest(0x70, 0, 0, 300));  // never masked to 44
    EXPECT_FALSE(QFXMidiMessages::patchData(0x70, 256, 0, 0, 20, {}));
}

TEST(QFXMidiMessages, PatchDataMessagePadsToTheMaximumSizeAndChecksTheWholeBuffer)
{
    const Bytes patch{1, 2, 3, 4, 5, 6, 7, 8, 9, 0x8A};
    const auto message = QFXMidiMessages::patchData(0x70, 2, 3, 4, 20, patch);
    ASSERT_TRUE(message);
    const std::size_t packed = 20 + 3;
    ASSERT_EQ(message->size(), packed + 19);
    EXPECT_EQ(Bytes(message->begin(), message->begin() + 13),
              (Bytes{0xF0, 0x7D, 0x00, 0x70, 0x45, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 20, 0x00}));
    Bytes padded = patch;
    padded.resize(20, 0);
    EXPECT_EQ(MIDIMessageUtil::convert78(message->data() + 13, packed), padded);
    EXPECT_EQ(fiveByte(*message, 13 + packed), static_cast<std::uint32_t>(CalcCrc32(padded.data(), 20)));
    EXPECT_EQ(message->back(), 0xF7);

    const auto three = QFXMidiMessages::patchData(0x70, 0, 0, 0, 300, {});
    ASSERT_TRUE(three);
    EXPECT_EQ((std::tuple(three->size(), (*three)[11], (*three)[12])), (std::tuple(362u, 0x2C, 0x02)));
}

TEST(QFXMidiMessages, PatchBuffersThatWouldOverflowOneMessageAreRefused)
{
    const auto largest = QFXMidiMessages::patchData(0x70, 0, 0, 0, 878, Bytes(878, 0xFF));
    ASSERT_TRUE(largest);
    EXPECT_EQ(largest->size(), 1023u);
    EXPECT_FALSE(QFXMidiMessages::patchData(0x70, 0, 0, 0, 879, {}));
    EXPECT_FALSE(QFXMidiMessages::patchData(0x70, 0, 0, 0, 100, Bytes(101, 1)));
    EXPECT_FALSE(QFXMidiMessages::patchData(0x70, 0, 0, 0, -1, {}));

    const auto edit = QFXMidiMessages::editBuffer(0x70, 889, Bytes(10, 0x81));
    ASSERT_TRUE(edit);
    EXPECT_LE(edit->size(), 1023u);
    EXPECT_EQ(Bytes(edit->begin(), edit->begin() + 5), (Bytes{0xF0, 0x7D, 0x00, 0x70, 0x28}));
    EXPECT_EQ(edit->size(), 889u + 127u + 6u);
    EXPECT_FALSE(QFXMidiMessages::editBuffer(0x70, 890, {}));
    EXPECT_FALSE(QFXMidiMessages::editBuffer(0x70, 4, Bytes(5, 0)));
}

TEST(QFXMidiMessages, FileNamesFillThirteenBytesAndLongerNamesAreRefused)
{
    const auto field = QFXMidiMessages::fileNameField("FLST_SEQ.QT2");
    ASSERT_TRUE(field);
    EXPECT_EQ(*field, (Bytes{'F', 'L', 'S', 'T', '_', 'S', 'E', 'Q', '.', 'Q', 'T', '2', 0}));
    EXPECT_TRUE(QFXMidiMessages::fileNameField("ABCDEFGHIJKLM"));
    EXPECT_FALSE(QFXMidiMessages::fileNameField("ABCDEFGHIJKLMN"));
    EXPECT_FALSE(QFXMidiMessages::findFirst(0x70, "ABCDEFGHIJKLMN"));
    // Thirteen characters, but not thirteen 7-bit bytes: refused whole, never cut or carried as a status byte.
    const std::vector<std::string> unfit{"\xC3\xA9" "ABCDEFGHIJKL", "ABCDEFGHIJKL\xF0\x9F\x98\x80", std::string("A\0B", 3),
                                         "\xFF"};
    for (const std::string& name : unfit)
        EXPECT_FALSE(QFXMidiMessages::fileNameField(name)) << name;

    const auto find = QFXMidiMessages::findFirst(0x70, "FLST_SEQ.QT2");
    ASSERT_TRUE(find);
    EXPECT_EQ(std::pair(find->size(), Bytes(find->begin(), find->begin() + 8)),
              std::pair(std::size_t(22), Bytes{0xF0, 0x7D, 0x00, 0x70, 0x60, 0x25, 0x00, 0x00}));

    const auto open = QFXMidiMessages::open(0x70, QFXMidiMessages::kOpenForRead, "A.QF2");
    ASSERT_TRUE(open);
    EXPECT_EQ((std::tuple(open->size(), (*open)[6], (*open)[16])), (std::tuple(30u, 0x02, 'A')));
    EXPECT_EQ(QFXMidiMessages::unlink(0x70, "A.QF2")->size(), 20u);
    EXPECT_EQ((*QFXMidiMessages::fileLength(0x70, "A.QF2"))[5], 0x28);
}

TEST(QFXMidiMessages, ReadWriteAndCloseCarryTheHandleAndFiveByteCounts)
{
    const Bytes handle{1, 2, 3, 4, 5};
    EXPECT_EQ(QFXMidiMessages::read(0x70, handle),
              (Bytes{0xF0, 0x7D, 0x00, 0x70, 0x60, 0x22, 1, 2, 3, 4, 5, 0x00, 0x04, 0x00, 0x00, 0x00, 0xF7}));
    EXPECT_EQ(QFXMidiMessages::close(0x70, handle), (Bytes{0xF0, 0x7D, 0x00, 0x70, 0x60, 0x21, 1, 2, 3, 4, 5, 0xF7}));

    const Bytes chunk(512, 0xA5);
    const auto full = QFXMidiMessages::write(0x70, handle, chunk.data(), 512);
    ASSERT_TRUE(full);
    EXPECT_EQ(full->size(), 608u);
    EXPECT_EQ(fiveByte(*full, 11), 512u);
    EXPECT_EQ(fiveByte(*full, 16 + 586), static_cast<std::uint32_t>(CalcCrc32(chunk.data(), 512)));

    EXPECT_EQ(*QFXMidiMessages::write(0x70, handle, nullptr, 0),
              (Bytes{0xF0, 0x7D, 0x00, 0x70, 0x60, 0x23, 1, 2, 3, 4, 5, 0, 0, 0, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F, 0x0F, 0xF7}));
    EXPECT_FALSE(QFXMidiMessages::write(0x70, handle, chunk.data(), 513));
}

}  // namespace
