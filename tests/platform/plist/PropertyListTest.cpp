#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "support/plist/PlistFixtures.h"
#include "platform/plist/PropertyList.h"
#include "support/files/TemporaryFolder.h"

using namespace platform;
using plist_fixtures::arrayObject;
using plist_fixtures::binaryPlist;

namespace {

PlistValue everyKind(double dateSeconds)
{
    PlistDictionary nested{{"empty array", PlistArray{}}, {"empty dictionary", PlistDictionary{}},
                           {"list", PlistArray{1, "two", 3.5, PlistArray{false}}}};
    return PlistDictionary{
        {"yes", true},
        {"no", false},
        {"zero", 0},
        {"negative", -42},
        {"largest", INT64_MAX},
        {"smallest", INT64_MIN},
        {"beyond 32 bits", std::int64_t(1) << 40},
        {"real", -1234.5625},
        {"text", "plain ASCII"},
        {"unicode", "Gitarre \xE3\x82\xAE\xE3\x82\xBF\xE3\x83\xBC \xF0\x9F\x8E\xB8 <&>\"'"},
        {"empty text", ""},
        {"bytes", Bytes{0x00, 0xFF, 0x7F, 0x80, 0x0A}},
        {"empty bytes", Bytes{}},
        {"date", PlistDate{dateSeconds}},
        {"nested", nested},
        {"\xE3\x82\xAD\xE3\x83\xBC", "unicode key"},
    };
}

Bytes fileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(PropertyList, RoundTripsEveryKindInBothFormats)
{
    // XML dates carry whole seconds; the binary form keeps the fraction, before the reference date too.
    const struct {
        PlistFormat format;
        double date;
    } cases[] = {{PlistFormat::Xml, 700000000.0}, {PlistFormat::Binary, 700000000.25}, {PlistFormat::Binary, -99.5},
                 {PlistFormat::Xml, -86400.0}};
    for (const auto& c : cases) {
        const PlistValue original = everyKind(c.date);
        Error error;
        auto bytes = PropertyList::serialize(original, c.format, &error);
        ASSERT_TRUE(bytes) << error.describe();
        PlistFormat found{};
        auto parsed = PropertyList::parse(*bytes, &error, &found);
        ASSERT_TRUE(parsed) << error.describe();
        EXPECT_EQ(found, c.format);
        EXPECT_EQ(*parsed, original) << "date " << c.date;
        EXPECT_EQ(PropertyList::serialize(*parsed, c.format), bytes) << "writing is deterministic";
    }
}

TEST(PropertyList, TopLevelScalarsAndUidsRoundTrip)
{
    for (PlistValue value : {PlistValue(7), PlistValue("x"), PlistValue(PlistArray{}), PlistValue(PlistUid{300})}) {
        auto bytes = PropertyList::serialize(value, PlistFormat::Binary);
        ASSERT_TRUE(bytes);
        EXPECT_EQ(PropertyList::parse(*bytes), value);
    }
}

TEST(PropertyList, RecognisesXmlAfterByteOrderMarkAndBlankLines)
{
    const std::string text = "\xEF\xBB\xBF\n  <?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                             "<dict><key>n</key><integer>-5</integer><!-- </dict> --><key>a</key><array/></dict>"
                             "</plist>";
    PlistFormat format{};
    auto value = PropertyList::parse(Bytes(text.begin(), text.end()), nullptr, &format);
    ASSERT_TRUE(value);
    EXPECT_EQ(format, PlistFormat::Xml);
    EXPECT_EQ(value->get("n").asInteger(), -5);
    EXPECT_EQ(value->get("a"), PlistValue(PlistArray{}));
}

TEST(PlistValue, WrongKindsAnswerMissing)
{
    const PlistValue value = everyKind(0);
    EXPECT_EQ(value.get("negative").asString(), std::nullopt);
    EXPECT_EQ(value.get("text").asInteger(), std::nullopt);
    EXPECT_EQ(value.get("yes").asInteger(), std::nullopt);
    EXPECT_EQ(value.get("negative").asReal(), -42.0);
    EXPECT_EQ(value.get("text").bytes(), nullptr);
    EXPECT_TRUE(value.get("missing").get("deeper").at(3).isNull());
    EXPECT_TRUE(value.get("nested").get("list").at(9).isNull());
    EXPECT_EQ(value.get("nested").get("list").at(1).asString(), "two");
    EXPECT_TRUE(value.at(0).isNull());

    PlistValue number = 5;
    EXPECT_FALSE(number.set("k", 1));
    EXPECT_FALSE(number.append(1));
    PlistValue empty;
    EXPECT_TRUE(empty.set("k", 1));
    EXPECT_EQ(empty.get("k").asInteger(), 1);
}

TEST(PropertyList, RefusesWhatItCannotStore)
{
    const PlistValue refused[] = {
        PlistValue(),
        PlistDictionary{{"a", PlistArray{PlistValue()}}},
        std::string("before\0after", 12),
        "broken \xC3 text",
        "\xED\xA0\x80 surrogate",
        PlistDictionary{{std::string("k\0ey", 4), 1}},
        PlistDate{1e12},
    };
    for (const PlistValue& value : refused) {
        for (PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
            Error error;
            EXPECT_FALSE(PropertyList::serialize(value, format, &error));
            EXPECT_EQ(error.code, PropertyList::kUnstorable);
        }
    }
}

TEST(PropertyList, HostileInputGivesErrors)
{
    const Bytes valid = *PropertyList::serialize(everyKind(1.5), PlistFormat::Binary);
    for (std::size_t length = 0; length < valid.size(); ++length) {
        Bytes truncated(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(PropertyList::parse(truncated)) << "truncated to " << length;
    }
    const Bytes xml = *PropertyList::serialize(everyKind(1), PlistFormat::Xml);
    for (std::size_t length = 0; length < xml.size(); length += 7)
        EXPECT_FALSE(PropertyList::parse(Bytes(xml.begin(), xml.begin() + static_cast<std::ptrdiff_t>(length))));

    Error error;
    EXPECT_FALSE(PropertyList::parse(Bytes{'h', 'e', 'l', 'l', 'o'}, &error));
    EXPECT_EQ(error.code, PropertyList::kUnknownFormat);

    std::string deep = "<plist>";
    for (int i = 0; i < 100000; ++i)
        deep += "<array>";
    EXPECT_FALSE(PropertyList::parse(Bytes(deep.begin(), deep.end()), &error));
    EXPECT_EQ(error.code, PropertyList::kMalformed);
    const std::string mismatched = "<plist><array></dict></array></plist>";
    EXPECT_FALSE(PropertyList::parse(Bytes(mismatched.begin(), mismatched.end())));
}

TEST(PropertyList, HostileBinaryLayoutsGiveErrors)
{
    Error error;
    // Each object an array holding the next: nesting beyond the limit.
    std::vector<Bytes> chain;
    for (std::uint16_t i = 1; i < 1000; ++i)
        chain.push_back(arrayObject({i}));
    chain.push_back(arrayObject({}));
    EXPECT_FALSE(PropertyList::parse(binaryPlist(chain), &error));
    EXPECT_EQ(error.code, PropertyList::kMalformed);

    EXPECT_FALSE(PropertyList::parse(binaryPlist({arrayObject({0})}), &error)) << "an array holding itself";
    EXPECT_FALSE(PropertyList::parse(binaryPlist({arrayObject({1}), arrayObject({0})}), &error));
    EXPECT_FALSE(PropertyList::parse(binaryPlist({arrayObject({5})}), &error)) << "reference out of range";
    EXPECT_FALSE(PropertyList::parse(binaryPlist({arrayObject({})}, 3), &error)) << "top out of range";
    EXPECT_FALSE(PropertyList::parse(binaryPlist({Bytes{0x5F, 0x13, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}})))
        << "string longer than the file";
    EXPECT_FALSE(PropertyList::parse(binaryPlist({Bytes{0x70}}))) << "unknown object type";

    // Each level refers twice to the next: a small file that would expand to a huge tree.
    std::vector<Bytes> doubling;
    for (std::uint16_t i = 1; i < 40; ++i)
        doubling.push_back(arrayObject({i, i}));
    doubling.push_back(Bytes{0x4F, 0x11, 0x04, 0x00});
    doubling.back().resize(4 + 1024);
    EXPECT_FALSE(PropertyList::parse(binaryPlist(doubling), &error));
    EXPECT_EQ(error.code, PropertyList::kMalformed);

    // Shared references within the limits are fine.
    auto shared = PropertyList::parse(binaryPlist({arrayObject({1, 1}), Bytes{0x10, 0x07}}));
    ASSERT_TRUE(shared);
    EXPECT_EQ(*shared, PlistValue(PlistArray{7, 7}));
}

TEST(PropertyList, WritesFilesAtomicallyAndReportsBadOnes)
{
    const TemporaryFolder temporary;
    const std::filesystem::path folder = temporary.path();
    const auto path = folder / "Settings.plist";
    Error error;
    ASSERT_TRUE(PropertyList::writeFile(path, everyKind(3), PlistFormat::Xml, &error)) << error.describe();
    ASSERT_TRUE(PropertyList::writeFile(path, everyKind(4), PlistFormat::Binary, &error)) << error.describe();
    PlistFormat format{};
    EXPECT_EQ(PropertyList::readFile(path, &error, &format), everyKind(4));
    EXPECT_EQ(format, PlistFormat::Binary);

    const Bytes before = fileBytes(path);
    EXPECT_FALSE(PropertyList::writeFile(path, PlistDictionary{{"bad", PlistValue()}}, PlistFormat::Binary, &error));
    EXPECT_EQ(fileBytes(path), before) << "a failed write leaves the old content whole";
    EXPECT_FALSE(PropertyList::writeFile(folder / "missing" / "x.plist", 1, PlistFormat::Xml, &error));
    EXPECT_EQ(error.code, PropertyList::kWriteFailed);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << "no temporary file left";

    std::ofstream(folder / "corrupt.plist", std::ios::binary) << "bplist00 not really";
    EXPECT_FALSE(PropertyList::readFile(folder / "corrupt.plist", &error));
    EXPECT_EQ(error.code, PropertyList::kMalformed);
    EXPECT_EQ(error.info("path"), (folder / "corrupt.plist").string());
    EXPECT_FALSE(PropertyList::readFile(folder / "absent.plist", &error));
    EXPECT_EQ(error.code, PropertyList::kReadFailed);
}
