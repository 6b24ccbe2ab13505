#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include "httpclient/HTTPRequestOperation.h"
#include "httpclient/serialization/CompoundResponseSerializer.h"
#include "httpclient/serialization/ImageResponseSerializer.h"
#include "httpclient/serialization/JSONResponseSerializer.h"
#include "httpclient/serialization/PropertyListResponseSerializer.h"
#include "httpclient/serialization/ResponseSerializerSupport.h"
#include "httpclient/serialization/XMLDocumentResponseSerializer.h"
#include "httpclient/serialization/XMLParserResponseSerializer.h"
#include "platform/dispatch/RunLoop.h"
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

namespace {

URLResponse response(const std::string& contentType, std::int64_t status = 200)
{
    URLResponse made;
    made.url = "http://h/r";
    made.statusCode = status;
    made.setContentType(contentType);
    return made;
}

Bytes bytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

using imagemaker::jpeg;
using imagemaker::png;


}  // namespace

TEST(JSONResponseSerializer, GateStatusBodiesAndCharsets)
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
        const URLResponse made = response(c.contentType, c.status);
        std::optional<Error> error;
        std::any object = serializer->responseObjectForResponse(&made, c.body, &error);
        const std::string label = c.contentType + " " + std::to_string(c.status) + " " + std::string(c.body.begin(), c.body.end()).substr(0, 20);
        EXPECT_EQ(object.has_value(), c.expected.has_value()) << label;
        if (c.expected && object.has_value()) {
            EXPECT_EQ(std::any_cast<json>(object), *c.expected) << label;
        }
        std::vector<std::int64_t> codes;
        for (const Error* e = error ? &*error : nullptr; e; e = e->underlying.get()) codes.push_back(e->code);
        EXPECT_EQ(codes, c.errorCodes) << label;
        // Without an out-parameter a refused response gives nothing at all.
        if (!c.errorCodes.empty() && c.errorCodes.back() <= -1011) {
            EXPECT_FALSE(serializer->responseObjectForResponse(&made, c.body, nullptr).has_value()) << label;
        }
    }
}

TEST(JSONResponseSerializer, RemovesNullEntriesAtAnyDepthAndCopiesDefaults)
{
    auto serializer = JSONResponseSerializer::serializerWithReadingOptions(JSONResponseSerializer::kJSONReadingMutableContainers);
    serializer->removesKeysWithNullValues = true;
    const URLResponse made = response("application/json");
    std::any object = serializer->responseObjectForResponse(
        &made, bytes(R"({"a":null,"b":{"c":null,"d":[null,{"e":null,"f":1}]},"g":0})"), nullptr);
    EXPECT_EQ(std::any_cast<json>(object), json::parse(R"({"b":{"d":[null,{"f":1}]},"g":0})"));
    serializer->acceptableContentTypes = std::set<std::string>{"text/plain"};
    auto copied = std::static_pointer_cast<JSONResponseSerializer>(serializer->copy());
    EXPECT_EQ(copied->acceptableContentTypes, (std::set<std::string>{"application/json", "text/json", "text/javascript"}));
    EXPECT_TRUE(copied->removesKeysWithNullValues);
    EXPECT_EQ(copied->readingOptions, 1u);
}

TEST(XMLResponseSerializers, ParseSafelyAndRefuseExternalEntities)
{
    const std::string secret = ::testing::TempDir() + "rig-xml-secret-" + std::to_string(::getpid());
    std::ofstream(secret) << "SECRET";
    const std::string external = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + secret + "\">]><r>&x;</r>";
    const URLResponse made = response("text/xml");

    auto documents = XMLDocumentResponseSerializer::serializer();
    std::optional<Error> error;
    std::any object = documents->responseObjectForResponse(&made, bytes("<r a=\"1\">t<i>u</i></r>"), &error);
    ASSERT_TRUE(object.has_value());
    auto document = std::any_cast<std::shared_ptr<platform::XMLDocument>>(object);
    EXPECT_EQ(document->rootElementName(), "r");
    EXPECT_EQ(document->stringValue(), "tu");
    for (const std::string& bad : {external, std::string("<r><unclosed></r>"), std::string()}) {
        error.reset();
        EXPECT_FALSE(documents->responseObjectForResponse(&made, bytes(bad), &error).has_value()) << bad;
        ASSERT_TRUE(error) << bad;
        EXPECT_EQ(error->domain, platform::XMLSafety::kErrorDomain);
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
        auto parser = std::any_cast<std::shared_ptr<platform::XMLParser>>(parsers->responseObjectForResponse(&made, bytes(body), nullptr));
        Recorder recorder;
        parser->delegate = &recorder;
        EXPECT_EQ(parser->parse(), ok) << body;
        EXPECT_EQ(recorder.events, events) << body;
        EXPECT_EQ(recorder.events.find("SECRET"), std::string::npos);
    }
    std::remove(secret.c_str());

    // A copy still hands out parsers, with the acceptable types it was given.
    parsers->acceptableContentTypes = std::set<std::string>{"application/rss+xml"};
    auto copied = std::dynamic_pointer_cast<XMLParserResponseSerializer>(parsers->copy());
    ASSERT_TRUE(copied);
    EXPECT_EQ(copied->acceptableContentTypes, parsers->acceptableContentTypes);
    const URLResponse feed = response("application/rss+xml");
    EXPECT_TRUE(std::any_cast<std::shared_ptr<platform::XMLParser>>(copied->responseObjectForResponse(&feed, bytes("<r/>"), nullptr)));
}

TEST(PropertyListResponseSerializer, ParsesEitherFormat)
{
    platform::PlistDictionary dictionary{{"k", platform::PlistValue(std::int64_t{3})}};
    const URLResponse made = response("application/x-plist");
    auto serializer = PropertyListResponseSerializer::serializer();
    for (platform::PlistFormat format : {platform::PlistFormat::Xml, platform::PlistFormat::Binary}) {
        std::any object = serializer->responseObjectForResponse(&made, *platform::PropertyList::serialize(dictionary, format), nullptr);
        EXPECT_EQ(std::any_cast<platform::PlistValue>(object).get("k").asInteger(), 3);
    }
    std::optional<Error> error;
    EXPECT_FALSE(serializer->responseObjectForResponse(&made, bytes("bplist00garbage"), &error).has_value());
    EXPECT_TRUE(error);
    error.reset();
    EXPECT_FALSE(serializer->responseObjectForResponse(&made, Bytes(), &error).has_value());
    EXPECT_FALSE(error);
}

TEST(ImageResponseSerializer, SizesComeFromThePixels)
{
    struct Case {
        std::string type;
        Bytes body;
        double width, height;
    };
    const std::vector<Case> cases = {
        {"image/png", png(100, 50), 100, 50},
        {"image/jpeg", jpeg(17, 9), 17, 9},
        {"image/png", bytes("\x89PNG\r\n\x1a\nbroken"), 0, 0},
        {"image/gif", bytes("GIF89a"), 0, 0},
    };
    auto serializer = ImageResponseSerializer::serializer();
    for (const Case& c : cases) {
        const URLResponse made = response(c.type);
        std::optional<Error> error;
        std::any object = serializer->responseObjectForResponse(&made, c.body, &error);
        if (c.width > 0) {
            const auto& image = std::any_cast<const platform::Image&>(object);
            EXPECT_EQ(image.size.width, c.width);
            EXPECT_EQ(image.size.height, c.height);
            ASSERT_EQ(image.representations.size(), 1u);
            EXPECT_EQ(image.representations[0].bitmapData().size(), static_cast<std::size_t>(c.width * c.height * 4));
            EXPECT_FALSE(error);
        } else {
            EXPECT_FALSE(object.has_value());
            ASSERT_TRUE(error);
            EXPECT_EQ(error->code, -1016);
        }
    }
}

namespace {

using Pixel = std::array<std::uint8_t, 4>;
using PixelRule = std::function<Pixel(std::uint32_t x, std::uint32_t y)>;

Pixel quad(std::uint32_t index, std::uint8_t alpha = 0xFF)
{
    const auto& c = imagemaker::kQuad[index];
    return {c[0], c[1], c[2], alpha};
}

// The image decoded from the body, every pixel compared with the rule.
void expectPicture(const std::string& type, const Bytes& body, std::uint32_t width, std::uint32_t height, const PixelRule& rule)
{
    const URLResponse made = response(type);
    std::optional<Error> error;
    std::any object = ImageResponseSerializer::serializer()->responseObjectForResponse(&made, body, &error);
    ASSERT_TRUE(object.has_value()) << (error ? error->describe() : "");
    const auto& image = std::any_cast<const platform::Image&>(object);
    ASSERT_EQ(image.size.width, width);
    ASSERT_EQ(image.size.height, height);
    const Bytes& pixels = image.representations.at(0).bitmapData();
    ASSERT_EQ(pixels.size(), std::size_t{width} * height * 4);
    int wrong = 0;
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const Pixel seen{pixels[(y * width + x) * 4], pixels[(y * width + x) * 4 + 1], pixels[(y * width + x) * 4 + 2],
                             pixels[(y * width + x) * 4 + 3]};
            if (seen != rule(x, y) && ++wrong <= 3) ADD_FAILURE() << "pixel " << x << "," << y;
        }
}

}  // namespace

TEST(ImageResponseSerializer, DecodesEveryTypeItAccepts)
{
    const PixelRule picture = [](std::uint32_t x, std::uint32_t y) { return imagemaker::pictureAt(x, y); };
    const PixelRule quadPicture = [](std::uint32_t x, std::uint32_t y) { return quad(imagemaker::quadIndexAt(x, y)); };
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
            const PixelRule rule = bits <= 8 ? PixelRule([bits](std::uint32_t x, std::uint32_t y) { return quad(imagemaker::quadIndexAt(x, y) % (1u << bits)); })
                                 : bits == 32 ? PixelRule([](std::uint32_t x, std::uint32_t y) { auto p = imagemaker::pictureAt(x, y); p[3] = 0x80; return p; })
                                              : picture;
            expectPicture(bits == 24 ? "image/bmp" : "image/x-bmp", imagemaker::bmp(7, 3, bits, topDown), 7, 3, rule);
        }
    }
    {
        SCOPED_TRACE("BMP run-length coded");
        // 4 x 2, 8 bits: the bottom row three of colour 1 and one of 2; the top row colours 0, 1, 2 written
        // out, its last pixel never reached.
        Bytes rle = imagemaker::bmp(4, 2, 8);
        rle.resize(14 + 40 + 16);
        rle[30] = 1;  // compression: 8-bit runs
        rle.insert(rle.end(), {3, 1, 1, 2, 0, 0, 0, 3, 0, 1, 2, 0, 0, 1});
        expectPicture("image/x-win-bitmap", rle, 4, 2, [](std::uint32_t x, std::uint32_t y) {
            if (y == 1) return quad(x < 3 ? 1 : 2);
            return x < 3 ? quad(x) : Pixel{0, 0, 0, 0};
        });
    }
    {
        SCOPED_TRACE("ICO");
        // The larger image of the two, a PNG; alone, the bitmap with its mask.
        expectPicture("image/x-icon", imagemaker::ico(4, 4, 8), 8, 8, [](std::uint32_t, std::uint32_t) { return Pixel{0x7F, 0x7F, 0x7F, 0x7F}; });
        expectPicture("image/ico", imagemaker::ico(5, 4), 5, 4, [](std::uint32_t x, std::uint32_t y) {
            return quad(imagemaker::quadIndexAt(x, y), x == 0 ? 0 : 0xFF);
        });
    }
    {
        SCOPED_TRACE("XBM");
        const std::string text = imagemaker::xbm(10, 3);
        expectPicture("image/x-xbitmap", Bytes(text.begin(), text.end()), 10, 3, [](std::uint32_t x, std::uint32_t y) {
            return Pixel{0, 0, 0, static_cast<std::uint8_t>(x == y || x == 9 ? 0xFF : 0)};
        });
    }
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
    Bytes rle = imagemaker::bmp(4, 2, 8);
    rle.resize(14 + 40 + 16);
    rle[30] = 1;
    rle.insert(rle.end(), {0, 1});
    Bytes icoPastEnd = ico;
    icoPastEnd[18] = 0xFF;  // the image's offset
    const std::string xbm = imagemaker::xbm(10, 3);
    const std::vector<std::pair<std::string, Bytes>> cases = {
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
    const URLResponse made = response("image/bmp");
    for (const auto& [name, body] : cases) {
        SCOPED_TRACE(name);
        std::optional<Error> error;
        EXPECT_FALSE(serializer->responseObjectForResponse(&made, body, &error).has_value());
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, -1016);
    }
}

TEST(CompoundResponseSerializer, FirstAnsweringMemberWins)
{
    auto compound = CompoundResponseSerializer::compoundSerializerWithResponseSerializers(
        {nullptr, JSONResponseSerializer::serializer(), ImageResponseSerializer::serializer()});
    const URLResponse jsonResponse = response("application/json");
    EXPECT_EQ(std::any_cast<json>(compound->responseObjectForResponse(&jsonResponse, bytes("[2]"), nullptr)), json::array({2}));
    const URLResponse pngResponse = response("image/png");
    EXPECT_EQ(std::any_cast<platform::Image>(compound->responseObjectForResponse(&pngResponse, png(3, 4), nullptr)).size.height, 4);
    const URLResponse textResponse = response("text/plain");
    std::optional<Error> error;
    EXPECT_EQ(std::any_cast<Bytes>(compound->responseObjectForResponse(&textResponse, bytes("raw"), &error)), bytes("raw"));
    EXPECT_FALSE(error);
    const URLResponse failed = response("application/json", 503);
    EXPECT_EQ(std::any_cast<json>(compound->responseObjectForResponse(&failed, bytes("[]"), &error)), json::array());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, -1011);
}

TEST(HTTPRequestOperation, RefusesAMissingResponseSerializer)
{
    platform::RunLoop loop;
    platform::Dispatch dispatch(loop);
    HTTPRequestOperation operation(dispatch, platform::URLRequest("http://h/"));
    EXPECT_THROW(operation.setResponseSerializer(nullptr), std::invalid_argument);
    EXPECT_TRUE(operation.responseSerializer());
}
