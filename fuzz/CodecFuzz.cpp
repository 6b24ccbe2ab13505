// Every codec round-trips whatever the fuzzer hands it, and the decoders survive any encoded input.
#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include "device/formats/MIDIMessageUtil.h"

namespace {

void check(bool condition)
{
    if (!condition) std::abort();
}

bool sevenBit(const Bytes& bytes)
{
    for (auto byte : bytes)
        if (byte & 0x80) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto length = static_cast<std::int64_t>(size);

    Bytes packed;
    Convert87(packed, data, size);
    check(static_cast<std::int64_t>(packed.size()) == packedSize87(length));
    check(sevenBit(packed));
    const Bytes unpacked = MIDIMessageUtil::convert78(packed.data(), static_cast<std::int64_t>(packed.size()));
    check(unpacked.size() == size && (size == 0 || std::memcmp(unpacked.data(), data, size) == 0));

    const Bytes stream = MIDIMessageUtil::convert87Type2(data, length);
    check(stream.size() == (8 * size + 6) / 7);
    check(sevenBit(stream));
    const Bytes decoded = MIDIMessageUtil::convert78Type2(stream.data(), static_cast<std::int64_t>(stream.size()));
    check(decoded.size() >= size && (size == 0 || std::memcmp(decoded.data(), data, size) == 0));
    for (std::size_t i = size; i < decoded.size(); ++i) check(decoded[i] == 0);

    // The raw input as encoded bytes: decoders must stay inside it whatever it holds.
    check(MIDIMessageUtil::convert78(data, length).size() == (size / 8) * 7 + (size % 8 ? size % 8 - 1 : 0));
    check(MIDIMessageUtil::convert78Type2(data, length).size() == (7 * size + 7) / 8);

    for (std::size_t offset = 0; offset + 4 <= size; offset += 4) {
        std::uint32_t value;
        std::memcpy(&value, data + offset, 4);
        std::uint8_t five[5];
        Convert32to7(value, five);
        check(sevenBit(Bytes(five, five + 5)));
        check(Convert7to32(five, 5) == value);
    }
    check(Convert7to32(data, size).has_value() == (size >= 5));

    const auto usual = static_cast<std::uint32_t>(crc32(0, data, static_cast<uInt>(size)));
    check(CalcCrc32(data, length) == (~usual & 0xFFFFFFFFu));
    return 0;
}
