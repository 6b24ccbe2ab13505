// Archives whose fields would break a request on the wire or its timing: header fields holding line
// breaks or NUL, and time-outs that are not finite or negative. Each is refused by its reader.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "httpclient/URLObjectCoding.h"
#include "httpclient/serialization/JSONRequestSerializer.h"
#include "platform/plist/KeyedArchiver.h"
#include "platform/plist/KeyedUnarchiver.h"
#include "support/server/HttpFixture.h"

using namespace platform;

namespace {

ArchivedValue roundTrip(ArchivedValue value)
{
    Error error;
    auto bytes = KeyedArchiver::archive(value, &error);
    EXPECT_TRUE(bytes) << error.description;
    auto back = KeyedUnarchiver::unarchive(*bytes);
    EXPECT_TRUE(back);
    return back ? *back : ArchivedValue();
}

// (A property list cannot hold a NUL in a string, so no archive carries one to its reader.)
const std::vector<std::pair<std::string, std::string>> kBrokenFields = {
    {"X-Client", "rig\r\nX-Injected: yes"}, {"X-Client", "rig\n"}, {"X-Client\r", "rig"}};

}  // namespace

TEST(HostileArchivedFields, ALineBreakInAnyArchivedHeaderFieldRefusesTheArchive)
{
    for (const auto& [name, value] : kBrokenFields) {
        for (auto serializer : {HTTPRequestSerializer::serializer(), std::shared_ptr<HTTPRequestSerializer>(JSONRequestSerializer::serializer())}) {
            auto archived = serializer->archivedObject();
            archived->set("mutableHTTPRequestHeaders", URLObjectCoding::encodeStringMap({{"Accept", "*/*"}, {name, value}}));
            std::optional<Error> error;
            EXPECT_FALSE(HTTPRequestSerializer::decodeObject(roundTrip(ArchivedValue(archived)), &error)) << value;
            EXPECT_TRUE(error) << value;
        }

        URLRequest request("http://127.0.0.1:1/x");
        request.headerFields = {{"Accept", "*/*"}, {name, value}};
        EXPECT_FALSE(URLObjectCoding::decodeRequest(roundTrip(URLObjectCoding::encode(request)))) << value;
        URLResponse response;
        response.url = "http://127.0.0.1:1/x";
        response.allHeaderFields = {{name, value}};
        EXPECT_FALSE(URLObjectCoding::decodeResponse(roundTrip(URLObjectCoding::encode(response)))) << value;
        URLSessionConfiguration configuration;
        configuration.HTTPAdditionalHeaders = {{name, value}};
        EXPECT_FALSE(URLObjectCoding::decodeSessionConfiguration(roundTrip(URLObjectCoding::encode(configuration)))) << value;
    }
    // The same archives with sound fields come back.
    auto sound = HTTPRequestSerializer::serializer()->archivedObject();
    sound->set("mutableHTTPRequestHeaders", URLObjectCoding::encodeStringMap({{"X-Client", "rig"}}));
    auto decoded = HTTPRequestSerializer::decodeObject(roundTrip(ArchivedValue(sound)));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->valueForHTTPHeaderField("X-Client"), "rig");
}

// The method opens the request line: one with a space or line break would write lines of its own.
TEST(HostileArchivedFields, AMethodThatIsNotOneWordRefusesTheArchive)
{
    for (const std::string method : {"PUT /x HTTP/1.1\r\nX-Injected: yes\r\nX-Rest:", "GET\n", "GET /x", ""}) {
        URLRequest request("http://127.0.0.1:1/x");
        request.httpMethod = method;
        EXPECT_FALSE(URLObjectCoding::decodeRequest(roundTrip(URLObjectCoding::encode(request)))) << method;
    }
    URLRequest sound("http://127.0.0.1:1/x");
    sound.httpMethod = "PROPFIND";
    auto back = URLObjectCoding::decodeRequest(roundTrip(URLObjectCoding::encode(sound)));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->httpMethod, "PROPFIND");
}

TEST(HostileArchivedFields, ATimeOutThatIsNotFiniteOrIsNegativeRefusesTheArchive)
{
    const double infinity = std::numeric_limits<double>::infinity();
    for (const double seconds : {infinity, -infinity, std::nan(""), -1.0}) {
        for (int field = 0; field < 3; ++field) {
            URLRequest request("http://127.0.0.1:1/x");
            (field == 0 ? request.timeoutInterval : field == 1 ? request.totalTimeoutInterval : request.slowTransferInterval) = seconds;
            EXPECT_FALSE(URLObjectCoding::decodeRequest(roundTrip(URLObjectCoding::encode(request)))) << seconds << " " << field;
        }
        URLSessionConfiguration configuration;
        configuration.timeoutIntervalForRequest = seconds;
        EXPECT_FALSE(URLObjectCoding::decodeSessionConfiguration(roundTrip(URLObjectCoding::encode(configuration)))) << seconds;
    }
    // A huge one is a number like any other: the connection holds it to what its clock can wait.
    URLRequest patient("http://127.0.0.1:1/x", 1e300);
    patient.totalTimeoutInterval = 0;
    auto back = URLObjectCoding::decodeRequest(roundTrip(URLObjectCoding::encode(patient)));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->timeoutInterval, 1e300);

    HttpFixture fixture;
    auto operation = fixture.operation("http://127.0.0.1:1/x");
    URLRequest endless("http://127.0.0.1:1/x", infinity);
    auto archived = operation->archivedObject();
    archived->set("request", URLObjectCoding::encode(endless));
    EXPECT_FALSE(URLConnectionOperation::decodeObject(fixture.dispatch, roundTrip(ArchivedValue(archived))));
}
