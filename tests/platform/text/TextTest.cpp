#include "platform/text/DateText.h"
#include "platform/text/ShiftJis.h"
#include "platform/text/Utf8.h"
#include "platform/text/VersionComparison.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

using platform::DateText;
using platform::ShiftJis;
using platform::Utf8;
using platform::VersionComparison;
using namespace std::chrono;

TEST(TextEncodings, ShiftJisRoundTripsOrRefusesAndUtf8RefusesIllFormedText)
{
    std::string text = "Drive \xE6\xAD\xAA\xE3\x81\xBF\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88 \\ ~";  // 歪みテスト
    auto encoded = ShiftJis::encode(text);
    ASSERT_TRUE(encoded);
    // Double-byte kanji and kana, one byte for ASCII, and the backslash stays a backslash.
    EXPECT_EQ(encoded->size(), 6u + 10u + 4u);
    EXPECT_EQ((*encoded)[6], 0x98);
    EXPECT_EQ((*encoded)[7], 0x63);
    EXPECT_EQ(ShiftJis::decode(*encoded), text);
    EXPECT_EQ(ShiftJis::encode("")->size(), 0u);
    EXPECT_EQ(ShiftJis::decode(std::vector<std::uint8_t>{}), "");
    // An emoji or Hangul has no Shift-JIS form, and broken UTF-8, a cut-off pair or a bad trail byte no
    // text: they fail instead of being dropped.
    for (const char* text : {"ok \xF0\x9F\x8E\xB8", "\xEA\xB0\x80", "bad \xC3"}) EXPECT_FALSE(ShiftJis::encode(text)) << text;
    for (const auto& bytes : {std::vector<std::uint8_t>{'a', 0x82}, std::vector<std::uint8_t>{0x82, 0x20}}) EXPECT_FALSE(ShiftJis::decode(bytes));
    // UTF-8 validation rejects every ill-formed shape (overlong, surrogate, beyond U+10FFFF, cut off); a UTF-16
    // length counts a surrogate pair twice and each byte of a cut-off sequence once.
    for (const char* good : {"", "Clean \xC3\xA9 \xE3\x81\x82 \xF0\x9F\x8E\xB8", "\xF4\x8F\xBF\xBF"}) EXPECT_TRUE(Utf8::isValid(good)) << good;
    for (const char* bad : {"\x80", "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF0\x80\x80\xAF",
                            "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "\xE3\x81", "a\xC3"})
        EXPECT_FALSE(Utf8::isValid(bad)) << testing::PrintToString(bad);
    const std::pair<const char*, std::size_t> lengths[] = {{"", 0}, {"abc", 3}, {"\xE3\x81\x82\xE3\x81\x84", 2}, {"a\xF0\x9F\x8E\xB8", 3}, {"\xE3\x81", 2}};
    for (const auto& [text, units] : lengths) EXPECT_EQ(Utf8::utf16Length(text), units) << testing::PrintToString(text);
    EXPECT_TRUE(Utf8::isAscii("Plain ~ text"));
    EXPECT_FALSE(Utf8::isAscii("caf\xC3\xA9"));
}

TEST(VersionComparisonTest, ComparesDigitRunsByValue)
{
    const struct { const char *a, *b; int order; } cases[] = {
        {"1.10", "1.9", 1}, {"1.9", "1.10", -1}, {"1.2", "1.2", 0},   {"1.02", "1.2", 0}, {"1.0", "1.0.1", -1}, {"2", "1.99.99", 1},
        {"1.0b", "1.0a", 1}, {"1.0", "1.0a", -1}, {"V1.0", "v1.0", -1}, {"", "0", -1},     {"", "", 0},
        {"99999999999999999999999", "99999999999999999999998", 1}};
    for (const auto& c : cases) {
        const int order = VersionComparison::compare(c.a, c.b);
        EXPECT_EQ((order > 0) - (order < 0), c.order) << c.a << " vs " << c.b;
    }
    EXPECT_TRUE(VersionComparison::isNewer("1.10", "1.9"));
    EXPECT_FALSE(VersionComparison::isNewer("1.9", "1.9"));
}

struct DateTextTest : ::testing::Test {
    void SetUp() override { ::setenv("TZ", "JST-9", 1), ::tzset(); }  // a rule, so no time-zone database is needed
};

// A stamp is local time with four fraction digits; an HTTP date is GMT with English names.
TEST_F(DateTextTest, StampIsLocalTimeWithFourFractionDigitsAndHttpDateIsGmtWithEnglishNames)
{
    // 1994-11-06 08:49:37.123456 UTC is 17:49 in Tokyo.
    auto time = system_clock::from_time_t(784111777) + microseconds(123456);
    EXPECT_EQ(DateText::formatStamp(time), "19941106_17:49:37.1234");
    EXPECT_EQ(DateText::formatStamp(system_clock::from_time_t(784111777)), "19941106_17:49:37.0000");
    auto parsed = DateText::parseStamp("19941106_17:49:37.1234");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, system_clock::from_time_t(784111777) + microseconds(123400));
    for (const char* bad : {"19941106 17:49:37.1234", "19941106_17:49:37.123", "19941106_17:49:37.12345",
                            "19940231_17:49:37.1234", "19941106_24:00:00.0000", "1994116_17:49:37.1234", "",
                            // Beyond what the clock holds: these once wrapped round into some other time.
                            "30000101_00:00:00.0000", "16000101_00:00:00.0000"})
        EXPECT_FALSE(DateText::parseStamp(bad)) << bad;
    auto sent = system_clock::from_time_t(784111777) + milliseconds(900);
    EXPECT_EQ(DateText::formatHttpDate(sent), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(DateText::parseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), system_clock::from_time_t(784111777));
    auto leap = DateText::parseHttpDate("Thu, 29 Feb 2024 23:59:59 GMT");
    ASSERT_TRUE(leap);
    EXPECT_EQ(DateText::formatHttpDate(*leap), "Thu, 29 Feb 2024 23:59:59 GMT");
    for (const char* bad : {"Mon, 06 Nov 1994 08:49:37 GMT", "Sun, 06 Nov 1994 08:49:37 UTC",
                            "Sun, 6 Nov 1994 08:49:37 GMT", "Sun, 06 Foo 1994 08:49:37 GMT",
                            "Thu, 29 Feb 2023 23:59:59 GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "",
                            "Wed, 01 Jan 3000 00:00:00 GMT", "Sat, 01 Jan 1600 00:00:00 GMT"})
        EXPECT_FALSE(DateText::parseHttpDate(bad)) << bad;
}
