#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "platform/plist/PropertyList.h"
#include "support/files/TemporaryFolder.h"

using namespace platform;

namespace {

PlistValue everyKind(double dateSeconds)
{
    PlistDictionary nested{{"empty array", PlistArray{}}, {"empty dictionary", PlistDictionary{}},
                           {"list", PlistArray{1, "two", 3.5, PlistArray{false}}}};
    return PlistDictionary{
        {"yes", true}, {"no", false}, {"zero", 0}, {"negative", -42}, {"largest", INT64_MAX}, {"smallest", INT64_MIN},
        {"beyond 32 bits", std::int64_t(1) << 40}, {"real", -1234.5625}, {"text", "plain ASCII"},
        {"unicode", "Gitarre \xE3\x82\xAE\xE3\x82\xBF\xE3\x83\xBC \xF0\x9F\x8E\xB8 <&>\"'"}, {"empty text", ""},
        {"bytes", Bytes{0x00, 0xFF, 0x7F, 0x80, 0x0A}}, {"empty bytes", Bytes{}}, {"date", PlistDate{dateSeconds}},
        {"nested", nested}, {"\xE3\x82\xAD\xE3\x83\xBC", "unicode key"},
    };
}

Bytes fileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

// XML dates carry whole seconds; the binary form keeps the fraction, before the reference date too. Writing
// is deterministic, and a top level that is no container (a UID too) round-trips.
TEST(PropertyList, RoundTripsEveryKindInBothFormats)
{
    const struct {
        PlistFormat format;
        PlistValue value;
    } cases[] = {{PlistFormat::Xml, everyKind(700000000.0)}, {PlistFormat::Binary, everyKind(700000000.25)},
                 {PlistFormat::Binary, everyKind(-99.5)},    {PlistFormat::Xml, everyKind(-86400.0)},
                 {PlistFormat::Binary, 7},                  {PlistFormat::Binary, "x"},
                 {PlistFormat::Binary, PlistArray{}},       {PlistFormat::Binary, PlistUid{300}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        Error error;
        auto bytes = PropertyList::serialize(c.value, c.format, &error);
        ASSERT_TRUE(bytes) << error.describe();
        PlistFormat found{};
        auto parsed = PropertyList::parse(*bytes, &error, &found);
        ASSERT_TRUE(parsed) << error.describe();
        EXPECT_EQ(found, c.format);
        EXPECT_EQ(*parsed, c.value);
        EXPECT_EQ(PropertyList::serialize(*parsed, c.format), bytes);
    }
    // XML is recognised after a byte order mark and blank lines.
    const std::string text = "\xEF\xBB\xBF\n  <?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                             "<dict><key>n</key><integer>-5</integer><!-- </dict> --><key>a</key><array/></dict></plist>";
    PlistFormat format{};
    EXPECT_EQ(PropertyList::parse(Bytes(text.begin(), text.end()), nullptr, &format), PlistValue(PlistDictionary{{"n", -5}, {"a", PlistArray{}}}));
    EXPECT_EQ(format, PlistFormat::Xml);
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
    PlistValue number = 5, empty;
    EXPECT_FALSE(number.set("k", 1));
    EXPECT_FALSE(number.append(1));
    EXPECT_TRUE(empty.set("k", 1));
    EXPECT_EQ(empty.get("k").asInteger(), 1);
}

TEST(PropertyList, HostileInputGivesErrorsAndWhatItCannotStoreIsRefused)
{
    const Bytes valid = *PropertyList::serialize(everyKind(1.5), PlistFormat::Binary);
    for (std::size_t length = 0; length < valid.size(); ++length)
        EXPECT_FALSE(PropertyList::parse(Bytes(valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(length)))) << length;
    const Bytes xml = *PropertyList::serialize(everyKind(1), PlistFormat::Xml);
    for (std::size_t length = 0; length < xml.size(); length += 7)
        EXPECT_FALSE(PropertyList::parse(Bytes(xml.begin(), xml.begin() + static_cast<std::ptrdiff_t>(length))));

    Error error;
    EXPECT_FALSE(PropertyList::parse(Bytes{'h', 'e', 'l', 'l', 'o'}, &error));
    EXPECT_EQ(error.code, PropertyList::kUnknownFormat);
    std::string deep = "<plist>";
    for (int i = 0; i < 100000; ++i) deep += "<array>";
    EXPECT_FALSE(PropertyList::parse(Bytes(deep.begin(), deep.end()), &error));
    EXPECT_EQ(error.code, PropertyList::kMalformed);
    const std::string mismatched = "<plist><array></dict></array></plist>";
    EXPECT_FALSE(PropertyList::parse(Bytes(mismatched.begin(), mismatched.end())));
    const PlistValue refused[] = {
        PlistValue(), PlistDictionary{{"a", PlistArray{PlistValue()}}}, std::string("before\0after", 12), "broken \xC3 text",
        "\xED\xA0\x80 surrogate", PlistDictionary{{std::string("k\0ey", 4), 1}}, PlistDate{1e12},
    };
    for (const PlistValue& value : refused) {
        for (PlistFormat format : {PlistFormat::Xml, PlistFormat::Binary}) {
            Error error;
            EXPECT_FALSE(PropertyList::serialize(value, format, &error));
            EXPECT_EQ(error.code, PropertyList::kUnstorable);
        }
    }
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
