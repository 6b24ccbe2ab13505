#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "device/formats/MIDIMessageUtil.h"

namespace {

Bytes randomBytes(std::mt19937& random, std::size_t length)
{
    Bytes bytes(length);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
    return bytes;
}

Bytes pack(const Bytes& data)
{
    Bytes out;
    Convert87(out, data.data(), data.size());
    return out;
}

Bytes unpack(const Bytes& packed)
{
    return MIDIMessageUtil::convert78(packed.data(), static_cast<std::int64_t>(packed.size()));
}

Bytes encodeStream(const Bytes& data)
{
    return MIDIMessageUtil::convert87Type2(data.data(), static_cast<std::int64_t>(data.size()));
}

Bytes decodeStream(const Bytes& encoded)
{
    return MIDIMessageUtil::convert78Type2(encoded.data(), static_cast<std::int64_t>(encoded.size()));
}

bool allSevenBit(const Bytes& bytes)
{
    for (auto byte : bytes)
        if (byte & 0x80) return false;
    return true;
}

}  // namespace

TEST(MsbHeaderPacking, WorkedExamples)
{
    EXPECT_EQ(pack({0x81, 0x02, 0xFF}), (Bytes{0x50, 0x01, 0x02, 0x7F}));
    EXPECT_EQ(unpack({0x50, 0x01, 0x02, 0x7F}), (Bytes{0x81, 0x02, 0xFF}));
    EXPECT_EQ(pack({0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87}),
              (Bytes{0x7F, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x40, 0x07}));
}

TEST(MsbHeaderPacking, PointerFormRefusesASmallDestinationAndAppendsAfterExistingBytes)
{
    const Bytes data{0x80, 1, 2, 3, 4, 5, 6, 0xFF};
    std::uint8_t out[10];
    EXPECT_EQ(Convert87(out, 9, data.data(), 8), -1);
    EXPECT_EQ(Convert87(out, sizeof out, data.data(), 8), 10);
    EXPECT_EQ(Bytes(out, out + 10), pack(data));
    EXPECT_EQ(Convert87(out, sizeof out, data.data(), -3), 0);
    EXPECT_TRUE(MIDIMessageUtil::convert78(nullptr, 12).empty());

    Bytes message{0xF0, 0x7D};
    Convert87(message, data.data(), data.size());
    EXPECT_EQ(Bytes(message.begin() + 2, message.end()), pack(data));
}

TEST(MsbHeaderPacking, RoundTripsEveryLengthUpTo2048)
{
    std::mt19937 random(7);
    for (std::size_t length = 0; length <= 2048; ++length) {
        const Bytes data = randomBytes(random, length);
        const Bytes packed = pack(data);
        ASSERT_EQ(packed.size(), length + (length + 6) / 7) << length;
        ASSERT_TRUE(allSevenBit(packed)) << length;
        ASSERT_EQ(unpack(packed), data) << length;
    }
}

TEST(SevenBitStream, WorkedExamples)
{
    EXPECT_EQ(encodeStream({0xC5}), (Bytes{0x45, 0x01}));
    EXPECT_EQ(decodeStream({0x45, 0x01}), (Bytes{0xC5, 0x00}));
    EXPECT_EQ(encodeStream({0x34, 0x12}), (Bytes{0x34, 0x24, 0x00}));
    EXPECT_EQ(decodeStream({0x34, 0x24}), (Bytes{0x34, 0x12}));
}

TEST(SevenBitStream, RoundTripsEveryLengthUpTo2048AndNeverSetsBit7)
{
    std::mt19937 random(11);
    for (std::size_t length = 0; length <= 2048; ++length) {
        const Bytes data = randomBytes(random, length);
        const Bytes encoded = encodeStream(data);
        ASSERT_EQ(encoded.size(), (8 * length + 6) / 7) << length;
        ASSERT_TRUE(allSevenBit(encoded)) << length;
        Bytes decoded = decodeStream(encoded);
        // The last decoded byte may hold only the padding bits; it is zero then.
        ASSERT_GE(decoded.size(), length);
        for (std::size_t i = length; i < decoded.size(); ++i) ASSERT_EQ(decoded[i], 0) << length;
        decoded.resize(length);
        ASSERT_EQ(decoded, data) << length;
    }
}

TEST(FiveByteForm, WorkedExamplesAndBit7)
{
    std::uint8_t five[5];
    Convert32to7(0x12345678, five);
    EXPECT_EQ(Bytes(five, five + 5), (Bytes{0x78, 0x2C, 0x51, 0x11, 0x01}));
    Convert32to7(0xFFFFFFFF, five);
    EXPECT_EQ(Bytes(five, five + 5), (Bytes{0x7F, 0x7F, 0x7F, 0x7F, 0x0F}));
    Convert32to7(512, five);
    EXPECT_EQ(Bytes(five, five + 5), (Bytes{0x00, 0x04, 0x00, 0x00, 0x00}));

    const std::uint8_t noisy[5] = {0xFF, 0x80, 0x80, 0x80, 0x00};
    EXPECT_EQ(Convert7to32(noisy, 5), 0x7Fu);
    EXPECT_EQ(Convert7to32(noisy, 4), std::nullopt);
    EXPECT_EQ(Convert7to32(nullptr, 5), std::nullopt);
}

TEST(FiveByteForm, RoundTripsAndMatchesTheStreamOfTheValuesBytes)
{
    std::mt19937 random(5);
    for (int i = 0; i < 2000; ++i) {
        const std::uint32_t value = i < 2 ? (i == 0 ? 0u : 0xFFFFFFFFu) : static_cast<std::uint32_t>(random());
        Bytes five;
        Convert32to7(value, five);
        ASSERT_TRUE(allSevenBit(five));
        ASSERT_EQ(Convert7to32(five.data(), five.size()), value);
        const Bytes little{static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                           static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
        ASSERT_EQ(encodeStream(little), five);
    }
}

TEST(Crc32, IsTheComplementOfTheUsualCrcOnRandomBlocks)
{
    std::mt19937 random(3);
    for (std::size_t length : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 511u, 512u, 878u, 4096u, 65537u}) {
        const Bytes data = randomBytes(random, length);
        const auto usual = static_cast<std::uint32_t>(crc32(crc32(0, nullptr, 0), data.data(),
                                                            static_cast<uInt>(data.size())));
        ASSERT_EQ(CalcCrc32(data.data(), static_cast<std::int64_t>(length)), ~usual & 0xFFFFFFFFu) << length;
        std::uint64_t running = 0xFFFFFFFF;
        for (auto byte : data) running = updateCRC32(running, byte);
        ASSERT_EQ(running, ~usual & 0xFFFFFFFFu) << length;
    }
    const std::uint8_t one = 'a';
    EXPECT_EQ(CalcCrc32(&one, 0), 0xFFFFFFFFu);
    EXPECT_EQ(CalcCrc32(nullptr, 0), 0xFFFFFFFFu);
}

// Decoders meet bytes with stray top bits only from a faulty peer; word-wise and byte-wise paths must
// still agree with the one-byte-at-a-time reading.
TEST(Decoders, AgreeWithByteAtATimeReadingOnArbitraryInput)
{
    std::mt19937 random(13);
    for (std::size_t m = 0; m <= 100; ++m) {
        const Bytes input = randomBytes(random, m);
        Bytes expected;
        for (std::size_t i = 0, in = 0, header = 0; i < m / 8 * 7 + (m % 8 ? m % 8 - 1 : 0); ++i) {
            if (i % 7 == 0) header = input[in++];
            expected.push_back(static_cast<std::uint8_t>(input[in++] | ((header << (i % 7 + 1)) & 0x80)));
        }
        ASSERT_EQ(unpack(input), expected) << m;

        expected.clear();
        for (std::size_t i = 0, in = 0; i < (7 * m + 7) / 8; ++i, ++in) {
            if (i % 7 == 0 && i > 0) ++in;
            const unsigned next = in + 1 < m ? (input[in + 1] & 0x7Fu) << (7 - i % 7) : 0;
            expected.push_back(static_cast<std::uint8_t>(((input[in] & 0x7Fu) >> (i % 7)) | next));
        }
        ASSERT_EQ(decodeStream(input), expected) << m;
    }
}
