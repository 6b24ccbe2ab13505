#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/Bytes.h"

// One MIDI message of any kind as a value: a channel message (type 0x80-0xE0, channel apart), a system
// message (0xF1-0xFF), or SysEx (0xF0) held as its data bytes. Fields not given are 255; a time stamp
// not given is 0. The transport itself carries raw SysEx bytes; this is the general form beside it.
class OKVMIDIMessage {
public:
    static constexpr std::uint8_t kNotGiven = 255;

    OKVMIDIMessage(std::uint8_t type, std::uint8_t channel, std::uint8_t data1, std::uint8_t data2,
                   std::uint8_t data3, std::uint64_t timestamp);
    OKVMIDIMessage(std::uint8_t type, std::uint8_t channel, std::uint8_t data1, std::uint8_t data2,
                   std::uint8_t data3);
    OKVMIDIMessage(std::uint8_t type, std::uint8_t channel, std::uint8_t data1, std::uint8_t data2);
    OKVMIDIMessage(std::uint8_t type, std::uint8_t channel, std::uint64_t timestamp);
    OKVMIDIMessage(std::uint8_t type, std::uint8_t channel);

    static OKVMIDIMessage createFromVals(std::uint8_t type, std::uint8_t channel, std::uint8_t data1,
                                         std::uint8_t data2, std::uint8_t data3, std::uint64_t timestamp);
    static OKVMIDIMessage createFromVals(std::uint8_t type, std::uint8_t channel, std::uint8_t data1,
                                         std::uint8_t data2, std::uint8_t data3);
    static OKVMIDIMessage createFromVals(std::uint8_t type, std::uint8_t channel, std::uint8_t data1,
                                         std::uint8_t data2);
    static OKVMIDIMessage createWithType(std::uint8_t type, std::uint8_t channel, std::uint64_t timestamp = 0);
    // A SysEx message from its data bytes (no F0); nothing when the array is empty or holds a value
    // outside 0-0x7F.
    static std::optional<OKVMIDIMessage> createWithSysexArray(const std::vector<int>& sysexArray,
                                                              std::uint64_t timestamp = 0);

    std::uint8_t type() const { return type_; }
    void setType(std::uint8_t type) { type_ = type; }
    std::uint8_t channel() const { return channel_; }
    std::uint8_t data1() const { return data1_; }
    void setData1(std::uint8_t value) { data1_ = value; }
    std::uint8_t data2() const { return data2_; }
    void setData2(std::uint8_t value) { data2_ = value; }
    std::uint8_t data3() const { return data3_; }
    void setData3(std::uint8_t value) { data3_ = value; }
    const std::optional<Bytes>& sysexArray() const { return sysexArray_; }
    std::uint64_t timestamp() const { return timestamp_; }
    void setTimestamp(std::uint64_t timestamp) { timestamp_ = timestamp; }

    std::string description() const;
    // A readable form by type; nothing for 0xF7 and non-status values.
    std::optional<std::string> lengthyDescription() const;
    // A full-frame time-code message: 7F xx 01 01 and eight bytes in all.
    bool isFullFrameSMPTE() const;
    // A 14-bit value from data2 (high) and data3 (low) when data3 is given, otherwise data2 over 127.
    double doubleValue() const;

private:
    std::uint8_t type_;
    std::uint8_t channel_;
    std::uint8_t data1_;
    std::uint8_t data2_;
    std::uint8_t data3_;
    std::optional<Bytes> sysexArray_;
    std::uint64_t timestamp_;
};
