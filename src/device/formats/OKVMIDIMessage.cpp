#include "device/formats/OKVMIDIMessage.h"

#include <cstdarg>
#include <cstdio>

#include "common/Log.h"

namespace {

std::string format(const char* pattern, ...) RIG_PRINTF_FORMAT(1, 2);

std::string format(const char* pattern, ...)
{
    char text[256];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

// The array's text form: one number per indented line inside parentheses.
std::string arrayText(const Bytes& bytes)
{
    std::string text = "(";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        text += i == 0 ? "\n    " : ",\n    ";
        text += std::to_string(bytes[i]);
    }
    return text + "\n)";
}

}  // namespace

OKVMIDIMessage::OKVMIDIMessage(std::uint8_t type, std::uint8_t channel, std::uint8_t data1, std::uint8_t data2,
                               std::uint8_t data3, std::uint64_t timestamp)
    : type_(type), channel_(channel), data1_(data1), data2_(data2), data3_(data3), timestamp_(timestamp)
{
}

OKVMIDIMessage::OKVMIDIMessage(std::uint8_t type, std::uint8_t channel, std::uint8_t data1, std::uint8_t data2,
                               std::uint8_t data3)
    : OKVMIDIMessage(type, channel, data1, data2, data3, 0)
{
}

OKVMIDIMessage::OKVMIDIMessage(std::uint8_t type, std::uint8_t channel, std::uint8_t data1, std::uint8_t data2)
    : OKVMIDIMessage(type, channel, data1, data2, kNotGiven, 0)
{
}

OKVMIDIMessage::OKVMIDIMessage(std::uint8_t type, std::uint8_t channel, std::uint64_t timestamp)
    : OKVMIDIMessage(type, channel, kNotGiven, kNotGiven, kNotGiven, timestamp)
{
}

OKVMIDIMessage::OKVMIDIMessage(std::uint8_t type, std::uint8_t channel) : OKVMIDIMessage(type, channel, 0ull) {}

OKVMIDIMessage OKVMIDIMessage::createFromVals(std::uint8_t type, std::uint8_t channel, std::uint8_t data1,
                                              std::uint8_t data2, std::uint8_t data3, std::uint64_t timestamp)
{
    return OKVMIDIMessage(type, channel, data1, data2, data3, timestamp);
}

OKVMIDIMessage OKVMIDIMessage::createFromVals(std::uint8_t type, std::uint8_t channel, std::uint8_t data1,
                                              std::uint8_t data2, std::uint8_t data3)
{
    return OKVMIDIMessage(type, channel, data1, data2, data3);
}

OKVMIDIMessage OKVMIDIMessage::createFromVals(std::uint8_t type, std::uint8_t channel, std::uint8_t data1,
                                              std::uint8_t data2)
{
    return OKVMIDIMessage(type, channel, data1, data2);
}

OKVMIDIMessage OKVMIDIMessage::createWithType(std::uint8_t type, std::uint8_t channel, std::uint64_t timestamp)
{
    return OKVMIDIMessage(type, channel, timestamp);
}

std::optional<OKVMIDIMessage> OKVMIDIMessage::createWithSysexArray(const std::vector<int>& sysexArray,
                                                                   std::uint64_t timestamp)
{
    if (sysexArray.empty()) return std::nullopt;
    Bytes bytes;
    bytes.reserve(sysexArray.size());
    for (int value : sysexArray) {
        if (value < 0 || value > 0x7F) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    OKVMIDIMessage message(0xF0, kNotGiven, timestamp);
    message.sysexArray_ = std::move(bytes);
    return message;
}

std::string OKVMIDIMessage::description() const
{
    return format("<OKVMIDIMessage: 0x%X : %d : %d : %d : %d : %llu>", type_, channel_, data1_, data2_, data3_,
                  static_cast<unsigned long long>(timestamp_));
}

std::optional<std::string> OKVMIDIMessage::lengthyDescription() const
{
    const auto time = static_cast<unsigned long long>(timestamp_);
    // The texts print channel and data bytes as signed chars, so a value not given shows as -1.
    const auto ch = static_cast<signed char>(channel_);
    const auto d1 = static_cast<signed char>(data1_);
    const auto d2 = static_cast<signed char>(data2_);
    const int combined = data2_ * 128 + data1_;
    switch (type_) {
    case 0x80: return format("NoteOff, ch.%hhd, note.%hhd, val.%hhd, time.%llu", ch, d1, d2, time);
    case 0x90: return format("NoteOn, ch.%hhd, note.%hhd, val.%hhd, time.%llu", ch, d1, d2, time);
    case 0xA0: return format("AfterTouch, ch.%hhd, note.%hhd, val.%hhd, time.%llu", ch, d1, d2, time);
    case 0xB0: return format("Ctrl, ch.%hhd, ctrl.%hhd, val.%hhd, time.%llu", ch, d1, d2, time);
    case 0xC0: return format("PgmChange, ch.%hhd, pgm.%hhd, time.%llu", ch, d1, time);
    case 0xD0: return format("ChannelPressure, ch.%hhd, val.%hhd, time.%llu", ch, d1, time);
    case 0xE0: return format("PitchWheel, ch.%hhd, val.%d, time.%llu", ch, combined, time);
    case 0xF0:
        return "Sysex: " + (sysexArray_ ? arrayText(*sysexArray_) : std::string("(null)"))
               + format(", time.%lli", static_cast<long long>(timestamp_));
    case 0xF1: return format("Quarter-Frame: %hhd, time.%llu", d1, time);
    case 0xF2: return format("Song Pos'n ptr: %d, time.%llu", combined, time);
    case 0xF3: return format("Song Select: %hhd, time.%llu", d1, time);
    case 0xF4: return "Undefined common";
    case 0xF5: return "Undefined common 2";
    case 0xF6: return "Tune Request";
    case 0xF8: return "Clock";
    case 0xF9: return "Tick";
    case 0xFA: return "Start";
    case 0xFB: return "Continue";
    case 0xFC: return "Stop";
    case 0xFD: return "Undefined Realtime";
    case 0xFE: return "Active Sense";
    case 0xFF: return "MIDI Reset";
    default: return std::nullopt;
    }
}

bool OKVMIDIMessage::isFullFrameSMPTE() const
{
    if (!sysexArray_ || sysexArray_->size() != 8) return false;
    const Bytes& bytes = *sysexArray_;
    return bytes[0] == 127 && bytes[2] == 1 && bytes[3] == 1;
}

double OKVMIDIMessage::doubleValue() const
{
    if (data3_ < 128) return ((data2_ & 0x7F) * 128 + (data3_ & 0x7F)) / 16383.0;
    return data2_ / 127.0;
}
