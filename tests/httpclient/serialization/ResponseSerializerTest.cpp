#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include "httpclient/serialization/CompoundResponseSerializer.h"
#include "httpclient/serialization/ImageResponseSerializer.h"
#include "httpclient/serialization/JSONResponseSerializer.h"
#include "httpclient/serialization/PropertyListResponseSerializer.h"
#include "httpclient/serialization/ResponseSerializerSupport.h"
#include "httpclient/serialization/XMLDocumentResponseSerializer.h"
#include "httpclient/serialization/XMLParserResponseSerializer.h"
#include "platform/image/Image.h"
#include "platform/plist/PropertyList.h"
#include "platform/xml/XMLDocument.h"
#include "platform/xml/XMLParser.h"
#include "platform/xml/XMLSafety.h"
#include "support/image/FormatMaker.h"
#include "support/image/ImageMaker.h"

using platform::Error;
using platform::URLResponse;
using nlohmann::json;
using imagemaker::jpeg;
using imagemaker::png;

namespace {

URLResponse response(const std::string& contentType, std::int64_t status = 200)
{
    URLResponse made;
    made.url = "http://h/r";
    made.statusCode = status;
    made.setContentType(contentType);
    return made;
}

Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// The serializer's answer to a body under a content type, with its error.
std::any answer(URLResponseSerialization& serializer, const std::string& type, const Bytes& body, std::optional<Error>* error = nullptr)
{
    const URLResponse made = response(type);
    return serializer.responseObjectForResponse(&made, body, error);
}

}  // namespace

TEST(JSONResponseSerializer, GateStatusBodiesAndCharsetsAndRemoveNullEntriesAtAnyDepth)
{
    struct Case {
        std::string contentType;
        std::int64_t status;
        Bytes body;
        std::optional<json> expected;
        std::vector<std::int64_t> errorCodes;  // outermost first
    };
    const std::vector<Case> cases = {
        {"application/json", 200, bytes(R"({"a":[1,null]})"), json::parse(R"({"a":[1,null]})"), {}},
        {"text/javascript; charset=utf-8", 200, bytes("[1]"), json::parse("[1]"), {}},
        {"application/json", 404, bytes(R"({"e":1})"), json::parse(R"({"e":1})"), {-1011}},
        {"application/json", 500, bytes("{oops"), std::nullopt, {3840, -1011}},
        {"text/html", 200, bytes(R"({"a":1})"), std::nullopt, {-1016}},
        {"text/html", 404, bytes("[]"), std::nullopt, {-1011, -1016}},
        {"text/html", 200, Bytes(), std::nullopt, {-1016}},
        {"application/json", 200, bytes(" "), std::nullopt, {}},
        {"application/json", 200, Bytes(), std::nullopt, {}},
        {"application/json", 200, bytes("\"text\""), std::nullopt, {3840}},
        {"application/json; charset=iso-8859-1", 200, Bytes{'[', '"', 0xE9, '"', ']'}, json::array({"\xC3\xA9"}), {}},
        {"application/json; charset=x-unknown", 200, bytes("[\"\xC3\xA9\"]"), json::array({"\xC3\xA9"}), {}},
        {"application/json", 200, Bytes{'[', '"', 0xE9, '"', ']'}, std::nullopt, {}},
        {"application/json", 200, bytes(std::string(600, '[') + std::string(600, ']')), std::nullopt, {3840}},
    };
    auto serializer = JSONResponseSerializer::serializer();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.contentType + " " + std::to_string(c.status) + " " + std::string(c.body.begin(), c.body.end()).substr(0, 20));
        const URLResponse made = response(c.contentType, c.status);
        std::optional<Error> error;
        std::any object = serializer->responseObjectForResponse(&made, c.body, &error);
        EXPECT_EQ(object.has_value() ? std::optional(std::any_cast<json>(object)) : std::nullopt, c.expected);
        std::vector<std::int64_t> codes;
        for (const Error* e = error ? &*error : nullptr; e; e = e->underlying.get()) codes.push_back(e->code);
        EXPECT_EQ(codes, c.errorCodes);
        // Without an out-parameter a refused response gives nothing at all.
        if (!c.errorCodes.empty() && c.errorCodes.back() <= -1011) {
            EXPECT_FALSE(serializer->responseObjectForResponse(&made, c.body, nullptr).has_value());
        }
    }
    // Null entries are removed at any depth when asked; a copy keeps the options and the default types.
    auto removing = JSONResponseSerializer::serializerWithReadingOptions(JSONResponseSerializer::kJSONReadingMutableContainers);
    removing->removesKeysWithNullValues = true;
    EXPECT_EQ(std::any_cast<json>(answer(*removing, "application/json", bytes(R"({"a":null,"b":{"c":null,"d":[null,{"e":null,"f":1}]},"g":0})"))),
              json::parse(R"({"b":{"d":[null,{"f":1}]},"g":0})"));
    removing->acceptableContentTypes = std::set<std::string>{"text/plain"};
    auto copied = std::static_pointer_cast<JSONResponseSerializer>(removing->copy());
    EXPECT_EQ(copied->acceptableContentTypes, (std::set<std::string>{"application/json", "text/json", "text/javascript"}));
    EXPECT_EQ(std::pair(copied->removesKeysWithNullValues, copied->readingOptions), std::pair(true, 1UL));
}

TEST(XMLResponseSerializers, ParseSafelyAndRefuseExternalEntities)
{
    const std::string secret = ::testing::TempDir() + "rig-xml-secret-" + std::to_string(::getpid());
    std::ofstream(secret) << "SECRET";
    const std::string external = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + secret + "\">]><r>&x;</r>";

    auto documents = XMLDocumentResponseSerializer::serializer();
    std::optional<Error> error;
    std::any object = answer(*documents, "text/xml", bytes("<r a=\"1\">t<i>u</i></r>"), &error);
    ASSERT_TRUE(object.has_value());
    auto document = std::any_cast<std::shared_ptr<platform::XMLDocument>>(object);
    EXPECT_EQ(std::pair(document->rootElementName(), document->stringValue()), std::pair(std::string("r"), std::string("tu")));
    for (const std::string& bad : {external, std::string("<r><unclosed></r>"), std::string()}) {
        error.reset();
        EXPECT_FALSE(answer(*documents, "text/xml", bytes(bad), &error).has_value()) << bad;
        EXPECT_EQ(error ? error->domain : "", platform::XMLSafety::kErrorDomain) << bad;
    }

    struct Recorder : platform::XMLParserDelegate {
        std::string events;
        void didStartElement(platform::XMLParser&, const std::string& name, const std::map<std::string, std::string>& attributes) override
        {
            events += "<" + name + (attributes.empty() ? "" : " " + attributes.begin()->first + "=" + attributes.begin()->second) + ">";
        }
        void didEndElement(platform::XMLParser&, const std::string& name) override { events += "</" + name + ">"; }
        void foundCharacters(platform::XMLParser&, const std::string& text) override { events += text; }
    };
    auto parsers = XMLParserResponseSerializer::serializer();
    for (const auto& [body, events, ok] : std::vector<std::tuple<std::string, std::string, bool>>{
             {"<r a=\"1\">t<i/>&amp;</r>", "<r a=1>t<i></i>&</r>", true}, {external, "", false}, {"<r>", "", false}}) {
        auto parser = std::any_cast<std::shared_ptr<platform::XMLParser>>(answer(*parsers, "text/xml", bytes(body)));
        Recorder recorder;
        parser->delegate = &recorder;
        EXPECT_EQ(parser->parse(), ok) << body;
        EXPECT_EQ(recorder.events, events) << body;
    }
    std::remove(secret.c_str());

    // A copy still hands out parsers, with the acceptable types it was given.
    parsers->acceptableContentTypes = std::set<std::string>{"application/rss+xml"};
    auto copied = std::dynamic_pointer_cast<XMLParserResponseSerializer>(parsers->copy());
    ASSERT_TRUE(copied);
    EXPECT_EQ(copied->acceptableContentTypes, parsers->acceptableContentTypes);
    EXPECT_TRUE(std::any_cast<std::shared_ptr<platform::XMLParser>>(answer(*copied, "application/rss+xml", bytes("<r/>"))));
}

TEST(PropertyListResponseSerializer, ParsesEitherFormat)
{
    auto serializer = PropertyListResponseSerializer::serializer();
    for (platform::PlistFormat format : {platform::PlistFormat::Xml, platform::PlistFormat::Binary}) {
        const auto list = *platform::PropertyList::serialize(platform::PlistDictionary{{"k", platform::PlistValue(std::int64_t{3})}}, format);
        EXPECT_EQ(std::any_cast<platform::PlistValue>(answer(*serializer, "application/x-plist", list)).get("k").asInteger(), 3);
    }
    // Garbage is an error; an empty body is nothing, without one.
    for (const auto& [body, failed] : {std::pair(bytes("bplist00garbage"), true), std::pair(Bytes(), false)}) {
        std::optional<Error> error;
        EXPECT_FALSE(answer(*serializer, "application/x-plist", body, &error).has_value());
        EXPECT_EQ(error.has_value(), failed);
    }
}

namespace {

using Pixel = std::array<std::uint8_t, 4>;
using PixelRule = std::function<Pixel(std::uint32_t x, std::uint32_t y)>;

// A 4 x 2 BMP of 8-bit runs over the given codes.
Bytes runBitmap(std::initializer_list<std::uint8_t> codes)
{
    Bytes rle = imagemaker::bmp(4, 2, 8);
    rle.resize(14 + 40 + 16);
    rle[30] = 1;  // compression: 8-bit runs
    rle.insert(rle.end(), codes);
    return rle;
}

Pixel quad(std::uint32_t index, std::uint8_t alpha = 0xFF)
{
    const auto& c = imagemaker::kQuad[index];
    return {c[0], c[1], c[2], alpha};
}

// The image decoded from the body, every pixel compared with the rule (none: a lossy format, its size alone).
void expectPicture(const std::string& type, const Bytes& body, std::uint32_t width, std::uint32_t height, const PixelRule& rule)
{
    std::optional<Error> error;
    std::any object = answer(*ImageResponseSerializer::serializer(), type, body, &error);
    ASSERT_TRUE(object.has_value()) << (error ? error->describe() : "");
    EXPECT_FALSE(error);
    const auto& image = std::any_cast<const platform::Image&>(object);
    ASSERT_EQ(std::pair(image.size.width, image.size.height), std::pair(double(width), double(height)));
    ASSERT_EQ(image.representations.size(), 1u);
    const Bytes& pixels = image.representations[0].bitmapData();
    ASSERT_EQ(pixels.size(), std::size_t{width} * height * 4);
    int wrong = 0;
    for (std::uint32_t y = 0; rule && y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const auto* at = &pixels[(y * width + x) * 4];
            if (Pixel{at[0], at[1], at[2], at[3]} != rule(x, y) && ++wrong <= 3) ADD_FAILURE() << "pixel " << x << "," << y;
        }
}

}  // namespace

TEST(ImageResponseSerializer, DecodesEveryTypeItAccepts)
{
    const PixelRule picture = [](std::uint32_t x, std::uint32_t y) { return imagemaker::pictureAt(x, y); };
    const PixelRule quadPicture = [](std::uint32_t x, std::uint32_t y) { return quad(imagemaker::quadIndexAt(x, y)); };
    const PixelRule grey = [](std::uint32_t, std::uint32_t) { return Pixel{0x7F, 0x7F, 0x7F, 0x7F}; };
    expectPicture("image/png", png(100, 50), 100, 50, grey);
    expectPicture("image/jpeg", jpeg(17, 9), 17, 9, nullptr);
    {
        SCOPED_TRACE("GIF");
        expectPicture("image/gif", imagemaker::gif(5, 3), 5, 3, quadPicture);
        // Interlaced rows land in their places; the transparent colour is transparent.
        expectPicture("image/gif", imagemaker::gif(9, 11, true, 3), 9, 11, [](std::uint32_t x, std::uint32_t y) {
            const auto index = imagemaker::quadIndexAt(x, y);
            return index == 3 ? Pixel{0, 0, 0, 0} : quad(index);
        });
    }
    for (const std::uint16_t compression : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE}) {
        SCOPED_TRACE("TIFF " + std::to_string(compression));
        expectPicture("image/tiff", imagemaker::tiff(6, 5, compression), 6, 5, picture);
    }
    for (const std::uint16_t bits : {1, 4, 8, 24, 32}) {
        for (const bool topDown : {false, true}) {
            SCOPED_TRACE("BMP " + std::to_string(bits) + (topDown ? " top down" : ""));
            const PixelRule indexed = [bits](std::uint32_t x, std::uint32_t y) { return quad(imagemaker::quadIndexAt(x, y) % (1u << bits)); };
            const PixelRule halfOpaque = [](std::uint32_t x, std::uint32_t y) { auto p = imagemaker::pictureAt(x, y); p[3] = 0x80; return p; };
            const PixelRule rule = bits <= 8 ? indexed : bits == 32 ? halfOpaque : picture;
            expectPicture(bits == 24 ? "image/bmp" : "image/x-bmp", imagemaker::bmp(7, 3, bits, topDown), 7, 3, rule);
        }
    }
    {
        SCOPED_TRACE("BMP run-length coded");
        // 4 x 2, 8 bits: the bottom row three of colour 1 and one of 2; the top row colours 0, 1, 2 written
        // out, its last pixel never reached.
        expectPicture("image/x-win-bitmap", runBitmap({3, 1, 1, 2, 0, 0, 0, 3, 0, 1, 2, 0, 0, 1}), 4, 2, [](std::uint32_t x, std::uint32_t y) {
            return y == 1 ? quad(x < 3 ? 1 : 2) : x < 3 ? quad(x) : Pixel{0, 0, 0, 0};
        });
    }
    // An icon shows the larger image of the two, a PNG; alone, the bitmap with its mask.
    expectPicture("image/x-icon", imagemaker::ico(4, 4, 8), 8, 8, grey);
    expectPicture("image/ico", imagemaker::ico(5, 4), 5, 4, [](std::uint32_t x, std::uint32_t y) {
        return quad(imagemaker::quadIndexAt(x, y), x == 0 ? 0 : 0xFF);
    });
    const std::string xbm = imagemaker::xbm(10, 3);
    expectPicture("image/x-xbitmap", bytes(xbm), 10, 3, [](std::uint32_t x, std::uint32_t y) {
        return Pixel{0, 0, 0, static_cast<std::uint8_t>(x == y || x == 9 ? 0xFF : 0)};
    });
}

TEST(ImageResponseSerializer, DamagedOrOverlargeImagesOfEveryTypeFailCleanly)
{
    auto withSize = [](Bytes body, std::size_t at, std::uint32_t width, std::uint32_t height, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            body[at + i] = static_cast<std::uint8_t>(width >> (8 * i));
            body[at + bytes + i] = static_cast<std::uint8_t>(height >> (8 * i));
        }
        return body;
    };
    const Bytes gif = imagemaker::gif(5, 3), tiff = imagemaker::tiff(6, 5), bmp = imagemaker::bmp(7, 3, 24), ico = imagemaker::ico(5, 4);
    const Bytes rle = runBitmap({0, 1});
    Bytes icoPastEnd = ico;
    icoPastEnd[18] = 0xFF;  // the image's offset
    const std::string xbm = imagemaker::xbm(10, 3);
    const std::vector<std::pair<std::string, Bytes>> cases = {
        {"PNG cut after its signature", bytes("\x89PNG\r\n\x1a\nbroken")},
        {"GIF header alone", bytes("GIF89a")},
        {"GIF cut short", Bytes(gif.begin(), gif.end() - 6)},
        {"GIF screen beyond the bound", withSize(gif, 6, 65535, 65535, 2)},
        {"TIFF cut short", Bytes(tiff.begin(), tiff.begin() + static_cast<long>(tiff.size() / 2))},
        {"BMP pixels cut short", Bytes(bmp.begin(), bmp.end() - 1)},
        {"BMP claiming a huge size", withSize(bmp, 18, 8000, 8000, 4)},
        {"BMP of runs claiming a huge size", withSize(rle, 18, 8000, 8000, 4)},
        {"BMP runs cut short", Bytes(rle.begin(), rle.end() - 1)},
        {"ICO image past its end", icoPastEnd},
        {"ICO without images", Bytes{0, 0, 1, 0, 0, 0}},
        {"XBM with too few bits", bytes(xbm.substr(0, xbm.rfind(',')) + "};")},
        {"XBM beyond the bound", bytes("#define a_width 100000\n#define a_height 100000\nstatic char a_bits[] = {0x01};")},
        {"XBM with a word for a bit", bytes("#define a_width 8\n#define a_height 1\nstatic char a_bits[] = {0x100};")},
    };
    auto serializer = ImageResponseSerializer::serializer();
    for (const auto& [name, body] : cases) {
        std::optional<Error> error;
        EXPECT_FALSE(answer(*serializer, "image/bmp", body, &error).has_value()) << name;
        EXPECT_EQ(error ? error->code : 0, -1016) << name;
    }
}

TEST(CompoundResponseSerializer, FirstAnsweringMemberWins)
{
    auto compound = CompoundResponseSerializer::compoundSerializerWithResponseSerializers(
        {nullptr, JSONResponseSerializer::serializer(), ImageResponseSerializer::serializer()});
    EXPECT_EQ(std::any_cast<json>(answer(*compound, "application/json", bytes("[2]"))), json::array({2}));
    EXPECT_EQ(std::any_cast<platform::Image>(answer(*compound, "image/png", png(3, 4))).size.height, 4);
    std::optional<Error> error;
    EXPECT_EQ(std::any_cast<Bytes>(answer(*compound, "text/plain", bytes("raw"), &error)), bytes("raw"));
    EXPECT_FALSE(error);
    const URLResponse failed = response("application/json", 503);
    EXPECT_EQ(std::any_cast<json>(compound->responseObjectForResponse(&failed, bytes("[]"), &error)), json::array());
    EXPECT_EQ(error ? error->code : 0, -1011);
}
