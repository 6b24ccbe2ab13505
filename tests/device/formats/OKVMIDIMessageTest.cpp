#include <gtest/gtest.h>

#include "device/formats/OKVMIDIMessage.h"

TEST(OKVMIDIMessage, SysexArrayMustBeNonEmptySevenBitData)
{
    EXPECT_FALSE(OKVMIDIMessage::createWithSysexArray({1, 2, 128}).has_value());
    EXPECT_FALSE(OKVMIDIMessage::createWithSysexArray({}).has_value());
    EXPECT_FALSE(OKVMIDIMessage::createWithSysexArray({1, -1}).has_value());

    const auto message = OKVMIDIMessage::createWithSysexArray({0x7E, 0x00, 0x06, 0x01}, 42);
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ((std::tuple(message->type(), message->channel(), message->data1(), message->timestamp())),
              (std::tuple(0xF0, 255, 255, 42u)));
    EXPECT_EQ(message->sysexArray(), (Bytes{0x7E, 0x00, 0x06, 0x01}));
    EXPECT_EQ(message->lengthyDescription(), "Sysex: (\n    126,\n    0,\n    6,\n    1\n), time.42");
}

TEST(OKVMIDIMessage, FullFrameTimeCodeNeedsItsExactLayout)
{
    EXPECT_TRUE(OKVMIDIMessage::createWithSysexArray({127, 127, 1, 1, 1, 2, 3, 4})->isFullFrameSMPTE());
    EXPECT_FALSE(OKVMIDIMessage::createWithSysexArray({127, 127, 1, 1, 1, 2, 3})->isFullFrameSMPTE());
    EXPECT_FALSE(OKVMIDIMessage::createWithSysexArray({127, 127, 1, 2, 1, 2, 3, 4})->isFullFrameSMPTE());
    EXPECT_FALSE(OKVMIDIMessage(0x90, 0, 60, 100).isFullFrameSMPTE());
}

TEST(OKVMIDIMessage, DoubleValueUsesFourteenBitsOnlyWhenData3IsGiven)
{
    EXPECT_DOUBLE_EQ(OKVMIDIMessage(0xB0, 0, 7, 0x40).doubleValue(), 0x40 / 127.0);
    EXPECT_DOUBLE_EQ(OKVMIDIMessage(0xE0, 0, 0, 0x7F, 0x7F).doubleValue(), 1.0);
    EXPECT_DOUBLE_EQ(OKVMIDIMessage(0xE0, 0, 0, 0x40, 0x00).doubleValue(), 0x2000 / 16383.0);
}

TEST(OKVMIDIMessage, TextForms)
{
    const OKVMIDIMessage noteOn(0x90, 2, 60, 100, 255, 7);
    EXPECT_EQ(noteOn.description(), "<OKVMIDIMessage: 0x90 : 2 : 60 : 100 : 255 : 7>");
    EXPECT_EQ(noteOn.lengthyDescription(), "NoteOn, ch.2, note.60, val.100, time.7");
    EXPECT_EQ(OKVMIDIMessage(0xE0, 1, 0x01, 0x40).lengthyDescription(), "PitchWheel, ch.1, val.8193, time.0");
    EXPECT_EQ(OKVMIDIMessage(0xC0, 255).lengthyDescription(), "PgmChange, ch.-1, pgm.-1, time.0");
    EXPECT_EQ(OKVMIDIMessage(0xFE, 255).lengthyDescription(), "Active Sense");
    EXPECT_EQ(OKVMIDIMessage(0xF7, 255).lengthyDescription(), std::nullopt);
    EXPECT_EQ(OKVMIDIMessage(0x45, 255).lengthyDescription(), std::nullopt);
}
