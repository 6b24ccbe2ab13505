// The HTTP layer's classes in keyed archives: what a round trip through the archive's bytes keeps, the
// archives a reader refuses, and what an archive may cost to read.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "httpclient/ArchiveDecodingBudget.h"
#include "httpclient/URLObjectCoding.h"
#include "httpclient/operation/HTTPRequestOperationManager.h"
#include "httpclient/serialization/CompoundResponseSerializer.h"
#include "httpclient/serialization/ImageResponseSerializer.h"
#include "httpclient/serialization/JSONRequestSerializer.h"
#include "httpclient/serialization/JSONResponseSerializer.h"
#include "httpclient/serialization/PropertyListRequestSerializer.h"
#include "httpclient/serialization/PropertyListResponseSerializer.h"
#include "httpclient/serialization/XMLDocumentResponseSerializer.h"
#include "httpclient/serialization/XMLParserResponseSerializer.h"
#include "httpclient/session/HTTPSessionManager.h"
#include "platform/plist/KeyedArchiver.h"
#include "platform/plist/KeyedUnarchiver.h"
#include "support/server/HttpFixture.h"

using namespace platform;
using support::LoopbackServer;

namespace {

// Through the archive's bytes and back, where an object put in many places is written once and referred to.
ArchivedValue roundTrip(ArchivedValue value)
{
    Error error;
    auto bytes = KeyedArchiver::archive(value, &error);
    EXPECT_TRUE(bytes) << error.description;
    auto back = bytes ? KeyedUnarchiver::unarchive(*bytes) : std::nullopt;
    EXPECT_TRUE(back);
    return back ? *back : ArchivedValue();
}

template <typename T>
std::shared_ptr<T> responseRoundTrip(const HTTPResponseSerializer& serializer)
{
    auto typed = std::dynamic_pointer_cast<T>(HTTPResponseSerializer::decodeObject(roundTrip(serializer.archivedObject())));
    EXPECT_TRUE(typed) << serializer.archivedClassName();
    return typed;
}

// An archived object of the class with the fields.
std::shared_ptr<ArchivedObject> object(std::shared_ptr<ArchivedObject> made, const std::vector<std::pair<std::string, ArchivedValue>>& fields)
{
    for (const auto& [key, value] : fields) made->set(key, value);
    return made;
}
std::shared_ptr<ArchivedObject> object(const std::string& className, const std::vector<std::pair<std::string, ArchivedValue>>& fields = {})
{
    return object(URLObjectCoding::makeObject(className), fields);
}

std::shared_ptr<ArchivedObject> indexSet(std::int64_t length)
{
    return object("NSIndexSet", {{"NSRangeCount", PlistValue(1)}, {"NSLocation", PlistValue(0)}, {"NSLength", PlistValue(length)}});
}

std::shared_ptr<ArchivedObject> plainSerializer() { return URLObjectCoding::makeObjectInFamily("HTTPResponseSerializer", "HTTPResponseSerializer"); }

std::shared_ptr<ArchivedObject> compoundOf(std::vector<ArchivedValue> members)
{
    return object(URLObjectCoding::makeObjectInFamily("CompoundResponseSerializer", "HTTPResponseSerializer"),
                  {{"responseSerializers", ArchivedValue::array(std::move(members), false)}});
}

// Serializers nested `depth` deep, each listing the one below twice.
std::shared_ptr<ArchivedObject> nested(int depth)
{
    auto level = plainSerializer();
    for (int i = 0; i < depth; ++i) level = compoundOf({ArchivedValue(level), ArchivedValue(level)});
    return level;
}

void expectRefusedAsTooLarge(const std::optional<Error>& error)
{
    ASSERT_TRUE(error);
    EXPECT_NE(error->description.find("asks for more memory than a decoder may give it"), std::string::npos) << error->description;
}

}  // namespace

TEST(Archiving, SerializersComeBackAsTheirClassWithTheirFields)
{
    auto json = JSONResponseSerializer::serializerWithReadingOptions(4);
    json->removesKeysWithNullValues = true;
    json->acceptableStatusCodes = std::set<std::int64_t>{200, 204, 300, 301, 302};
    json->acceptableContentTypes = std::set<std::string>{"application/json", "text/plain"};
    auto jsonBack = responseRoundTrip<JSONResponseSerializer>(*json);
    ASSERT_TRUE(jsonBack);
    EXPECT_EQ(std::pair(jsonBack->readingOptions, jsonBack->removesKeysWithNullValues), std::pair(4UL, true));
    EXPECT_EQ(jsonBack->acceptableStatusCodes, json->acceptableStatusCodes);
    EXPECT_EQ(jsonBack->acceptableContentTypes, json->acceptableContentTypes);

    // No check at all is kept as none, not as the defaults.
    auto plain = HTTPResponseSerializer::serializer();
    plain->acceptableStatusCodes.reset();
    auto plainBack = responseRoundTrip<HTTPResponseSerializer>(*plain);
    ASSERT_TRUE(plainBack);
    EXPECT_FALSE(plainBack->acceptableStatusCodes || plainBack->acceptableContentTypes);

    auto xmlBack = responseRoundTrip<XMLDocumentResponseSerializer>(*XMLDocumentResponseSerializer::serializerWithXMLDocumentOptions(9));
    ASSERT_TRUE(xmlBack);
    EXPECT_EQ(xmlBack->options, 9u);
    auto listBack = responseRoundTrip<PropertyListResponseSerializer>(*PropertyListResponseSerializer::serializerWithFormat(200, 2));
    ASSERT_TRUE(listBack);
    EXPECT_EQ(std::pair(listBack->format, listBack->readOptions), std::pair(200UL, 2UL));
    EXPECT_TRUE(responseRoundTrip<XMLParserResponseSerializer>(*XMLParserResponseSerializer::serializer()));
    auto image = ImageResponseSerializer::serializer();
    image->acceptableContentTypes = std::set<std::string>{"image/png"};
    auto imageBack = responseRoundTrip<ImageResponseSerializer>(*image);
    ASSERT_TRUE(imageBack);
    EXPECT_EQ(imageBack->acceptableContentTypes, image->acceptableContentTypes);

    auto compound = CompoundResponseSerializer::compoundSerializerWithResponseSerializers({json, image});
    auto compoundBack = responseRoundTrip<CompoundResponseSerializer>(*compound);
    ASSERT_TRUE(compoundBack);
    ASSERT_EQ(compoundBack->responseSerializers.size(), 2u);
    EXPECT_TRUE(std::dynamic_pointer_cast<JSONResponseSerializer>(compoundBack->responseSerializers[0]));
    EXPECT_TRUE(std::dynamic_pointer_cast<ImageResponseSerializer>(compoundBack->responseSerializers[1]));
    auto jsonRequest = JSONRequestSerializer::serializerWithWritingOptions(JSONRequestSerializer::kJSONWritingPrettyPrinted);
    jsonRequest->setValue(std::string("secret"), "X-Token");
    jsonRequest->setQueryStringSerializationWithStyle(0);
    auto requestBack = std::dynamic_pointer_cast<JSONRequestSerializer>(HTTPRequestSerializer::decodeObject(roundTrip(jsonRequest->archivedObject())));
    ASSERT_TRUE(requestBack);
    EXPECT_EQ(requestBack->writingOptions, JSONRequestSerializer::kJSONWritingPrettyPrinted);
    EXPECT_EQ(requestBack->valueForHTTPHeaderField("X-Token"), "secret");
    EXPECT_EQ(requestBack->HTTPRequestHeaders(), jsonRequest->HTTPRequestHeaders());
    auto requestList = PropertyListRequestSerializer::serializerWithFormat(PropertyListRequestSerializer::kPropertyListBinaryFormat, 3);
    auto requestListBack =
        std::dynamic_pointer_cast<PropertyListRequestSerializer>(HTTPRequestSerializer::decodeObject(roundTrip(requestList->archivedObject())));
    ASSERT_TRUE(requestListBack);
    EXPECT_EQ(std::pair(requestListBack->format, requestListBack->writeOptions), std::pair(PropertyListRequestSerializer::kPropertyListBinaryFormat, 3UL));
}

TEST(Archiving, AnOperationKeepsItsRequestResultAndSerializerAndIsPausedByArchiving)
{
    HttpFixture fixture;
    LoopbackServer server;
    server.serve("/doc", LoopbackServer::Reply{200, "text/plain; charset=utf-8", "document", {{"ETag", "\"e\""}}});
    URLRequest request(server.url("/doc"), 12.0, URLRequest::ReloadIgnoringLocalCacheData);
    request.httpMethod = "PUT";
    request.httpBody = std::vector<std::uint8_t>{'b', 'o', 'd', 'y'};
    request.setValue("v", "X-Field");
    auto operation = std::make_shared<HTTPRequestOperation>(fixture.dispatch, request);
    auto serializer = std::make_shared<HTTPResponseSerializer>();
    serializer->acceptableContentTypes = std::set<std::string>{"text/plain"};
    operation->setResponseSerializer(serializer);
    ASSERT_TRUE(fixture.run(operation).succeeded);

    std::optional<Error> error;
    auto back = std::dynamic_pointer_cast<HTTPRequestOperation>(URLConnectionOperation::decodeObject(fixture.dispatch,
                                                                                                     roundTrip(operation->archivedObject()), &error));
    ASSERT_TRUE(back) << (error ? error->describe() : "");
    const URLRequest& kept = back->request();
    EXPECT_EQ(std::tuple(kept.url, kept.httpMethod, kept.httpBody, kept.valueForHTTPHeaderField("X-Field"), kept.timeoutInterval, kept.cachePolicy),
              std::tuple(request.url, "PUT", request.httpBody, std::optional<std::string>("v"), 12.0, URLRequest::ReloadIgnoringLocalCacheData));
    ASSERT_TRUE(back->response());
    EXPECT_EQ(std::tuple(back->response()->statusCode, back->response()->valueForHTTPHeaderField("ETag"), back->response()->textEncodingName),
              std::tuple(200, std::optional<std::string>("\"e\""), std::optional<std::string>("utf-8")));
    EXPECT_EQ(back->responseData(), (Bytes{'d', 'o', 'c', 'u', 'm', 'e', 'n', 't'}));
    EXPECT_EQ(back->totalBytesRead(), 8);
    EXPECT_EQ(back->responseSerializer()->acceptableContentTypes, serializer->acceptableContentTypes);
    // A finished operation cannot be made finished again from an archive: it comes back ready.
    EXPECT_TRUE(back->isReady());

    // A failed one keeps its error; a running one is paused by archiving and comes back ready.
    auto failed = fixture.operation("http://127.0.0.1:1/nothing");
    ASSERT_FALSE(fixture.run(failed).succeeded);
    auto failedBack = URLConnectionOperation::decodeObject(fixture.dispatch, roundTrip(failed->archivedObject()));
    ASSERT_TRUE(failedBack && failedBack->error());
    EXPECT_EQ(std::pair(failedBack->error()->code, failedBack->error()->domain), std::pair(failed->error()->code, failed->error()->domain));

    server.stall("/slow");
    auto running = fixture.operation(server.url("/slow"));
    running->start();
    ASSERT_TRUE(fixture.loop.runUntil([&] { return server.hits("/slow") == 1; }));
    auto runningArchive = running->archivedObject();
    EXPECT_TRUE(running->isPaused());
    EXPECT_EQ(URLObjectCoding::integer(*runningArchive, "state"), OperationReadyState);
    server.release();
}

TEST(Archiving, ManagersKeepTheirBaseConfigurationAndSerializers)
{
    HttpFixture fixture;
    NotificationCenter center;
    auto operationManager = std::make_unique<HTTPRequestOperationManager>(fixture.dispatch, "http://127.0.0.1:9/api");
    operationManager->setRequestSerializer(JSONRequestSerializer::serializer());
    operationManager->setResponseSerializer(PropertyListResponseSerializer::serializer());
    auto operationBack = HTTPRequestOperationManager::decodeObject(fixture.dispatch, roundTrip(operationManager->archivedObject()));
    ASSERT_TRUE(operationBack);
    EXPECT_EQ(operationBack->baseURL(), operationManager->baseURL());
    EXPECT_TRUE(std::dynamic_pointer_cast<JSONRequestSerializer>(operationBack->requestSerializer()));
    EXPECT_TRUE(std::dynamic_pointer_cast<PropertyListResponseSerializer>(operationBack->responseSerializer()));

    URLSessionConfiguration configuration;
    configuration.timeoutIntervalForRequest = 7;
    configuration.HTTPAdditionalHeaders = {{"X-A", "1"}, {"X-A", "2"}};
    configuration.HTTPShouldSetCookies = false;
    auto session = HTTPSessionManager::create(fixture.dispatch, center, "http://127.0.0.1:9/v2", configuration);
    session->setResponseSerializer(XMLDocumentResponseSerializer::serializer());
    auto sessionBack = std::dynamic_pointer_cast<HTTPSessionManager>(URLSessionManager::decodeObject(fixture.dispatch, center,
                                                                                                     roundTrip(session->archivedObject())));
    ASSERT_TRUE(sessionBack);
    EXPECT_EQ(sessionBack->baseURL(), session->baseURL());
    EXPECT_EQ(sessionBack->sessionConfiguration(), configuration);
    EXPECT_TRUE(std::dynamic_pointer_cast<XMLDocumentResponseSerializer>(sessionBack->responseSerializer()));
    EXPECT_NE(sessionBack->session(), session->session());

    auto plain = URLSessionManager::create(fixture.dispatch, center, URLSessionConfiguration::backgroundSessionConfiguration("bg"));
    auto plainBack = URLSessionManager::decodeObject(fixture.dispatch, center, roundTrip(plain->archivedObject()));
    ASSERT_TRUE(plainBack);
    EXPECT_FALSE(std::dynamic_pointer_cast<HTTPSessionManager>(plainBack));
    EXPECT_EQ(plainBack->sessionConfiguration().identifier, "bg");
    for (const auto& manager : std::vector<std::shared_ptr<URLSessionManager>>{session, sessionBack, plain, plainBack})
        manager->invalidateSessionCancelingTasks(true);
}

TEST(Archiving, ArchivesOfAnotherKindOrWithHostileFieldsAreRefused)
{
    HttpFixture fixture;
    auto refusedResponse = [](std::shared_ptr<ArchivedObject> archived) {
        std::optional<Error> error;
        return !HTTPResponseSerializer::decodeObject(roundTrip(std::move(archived)), &error) && error.has_value();
    };
    auto plainWith = [](const std::string& key, ArchivedValue value) {
        return object(HTTPResponseSerializer::serializer()->archivedObject(), {{key, std::move(value)}});
    };
    EXPECT_TRUE(refusedResponse(object("NSObject")));
    EXPECT_TRUE(refusedResponse(object("HTTPRequestSerializer")));
    EXPECT_FALSE(HTTPResponseSerializer::decodeObject(ArchivedValue(PlistValue("HTTPResponseSerializer"))));
    EXPECT_TRUE(refusedResponse(plainWith("acceptableStatusCodes", PlistValue("200-299"))));
    // An index set may not ask for more members than a reader keeps, nor run past the end of its data.
    EXPECT_TRUE(refusedResponse(plainWith("acceptableStatusCodes", indexSet(std::int64_t{1} << 40))));
    EXPECT_TRUE(refusedResponse(plainWith("acceptableStatusCodes",
                                          object("NSIndexSet",
                                                 {{"NSRangeCount", PlistValue(3)}, {"NSRangeData", PlistValue(Bytes{200, 1, 0x80})}}))));
    EXPECT_TRUE(refusedResponse(object(JSONResponseSerializer::serializer()->archivedObject(), {{"removesKeysWithNullValues", PlistValue("yes")}})));
    EXPECT_TRUE(refusedResponse(object(CompoundResponseSerializer::compoundSerializerWithResponseSerializers({})->archivedObject(),
                                       {{"responseSerializers", ArchivedValue::array({ArchivedValue(object("Evil"))})}})));

    EXPECT_FALSE(HTTPRequestSerializer::decodeObject(roundTrip(object("JSONResponseSerializer"))));
    EXPECT_FALSE(HTTPRequestSerializer::decodeObject(roundTrip(object(HTTPRequestSerializer::serializer()->archivedObject(),
                                                                      {{"mutableHTTPRequestHeaders", PlistValue(3)}}))));
    auto operation = fixture.operation("http://127.0.0.1:1/x");
    EXPECT_FALSE(URLConnectionOperation::decodeObject(fixture.dispatch,
                                                      roundTrip(object(operation->archivedObject(),
                                                                       {{"request", PlistValue("http://127.0.0.1:1/x")}}))));
    EXPECT_FALSE(URLConnectionOperation::decodeObject(fixture.dispatch,
                                                      roundTrip(object(operation->archivedObject(), {{"response", object("NSHTTPURLResponse")}}))));
    auto badManager = object(std::make_unique<HTTPRequestOperationManager>(fixture.dispatch)->archivedObject(),
                             {{"responseSerializer", object("NSData")}});
    EXPECT_FALSE(HTTPRequestOperationManager::decodeObject(fixture.dispatch, roundTrip(badManager)));
}

// Header fields holding line breaks would break a request on the wire: each reader refuses them. (A property
// list cannot hold a NUL in a string, so no archive carries one to its reader.)
TEST(Archiving, ALineBreakInAnyArchivedHeaderFieldRefusesTheArchive)
{
    const std::vector<std::pair<std::string, std::string>> broken = {{"X-Client", "rig\r\nX-Injected: yes"}, {"X-Client", "rig\n"},
                                                                     {"X-Client\r", "rig"}};
    for (const auto& [name, value] : broken) {
        SCOPED_TRACE(name + ": " + value);
        for (auto serializer : {HTTPRequestSerializer::serializer(), std::shared_ptr<HTTPRequestSerializer>(JSONRequestSerializer::serializer())}) {
            auto archived = object(serializer->archivedObject(),
                                   {{"mutableHTTPRequestHeaders", URLObjectCoding::encodeStringMap({{"Accept", "*/*"}, {name, value}})}});
            std::optional<Error> error;
            EXPECT_FALSE(HTTPRequestSerializer::decodeObject(roundTrip(archived), &error));
            EXPECT_TRUE(error);
        }
        URLRequest request("http://127.0.0.1:1/x");
        request.headerFields = {{"Accept", "*/*"}, {name, value}};
        EXPECT_FALSE(URLObjectCoding::decodeRequest(roundTrip(URLObjectCoding::encode(request))));
        URLResponse response;
        response.url = "http://127.0.0.1:1/x";
        response.allHeaderFields = {{name, value}};
        EXPECT_FALSE(URLObjectCoding::decodeResponse(roundTrip(URLObjectCoding::encode(response))));
        URLSessionConfiguration configuration;
        configuration.HTTPAdditionalHeaders = {{name, value}};
        EXPECT_FALSE(URLObjectCoding::decodeSessionConfiguration(roundTrip(URLObjectCoding::encode(configuration))));
    }
    // The same archives with sound fields come back.
    auto decoded = HTTPRequestSerializer::decodeObject(
        roundTrip(object(HTTPRequestSerializer::serializer()->archivedObject(),
                         {{"mutableHTTPRequestHeaders", URLObjectCoding::encodeStringMap({{"X-Client", "rig"}})}})));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->valueForHTTPHeaderField("X-Client"), "rig");
}

// The method opens the request line: one with a space or line break would write lines of its own. A time-out
// that is not finite, or is negative, refuses the archive too.
TEST(Archiving, AMethodThatIsNotOneWordOrATimeOutThatIsNotFiniteRefusesTheArchive)
{
    for (const std::string method : {"PUT /x HTTP/1.1\r\nX-Injected: yes\r\nX-Rest:", "GET\n", "GET /x", "", "PROPFIND"}) {
        URLRequest request("http://127.0.0.1:1/x");
        request.httpMethod = method;
        const auto back = URLObjectCoding::decodeRequest(roundTrip(URLObjectCoding::encode(request)));
        EXPECT_EQ(back ? back->httpMethod : "<refused>", method == "PROPFIND" ? method : "<refused>") << method;
    }
    const double infinity = std::numeric_limits<double>::infinity();
    for (const double seconds : {infinity, -infinity, std::nan(""), -1.0}) {
        for (double URLRequest::*field : {&URLRequest::timeoutInterval, &URLRequest::totalTimeoutInterval, &URLRequest::slowTransferInterval}) {
            URLRequest request("http://127.0.0.1:1/x");
            request.*field = seconds;
            EXPECT_FALSE(URLObjectCoding::decodeRequest(roundTrip(URLObjectCoding::encode(request)))) << seconds;
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
    auto archived = object(fixture.operation("http://127.0.0.1:1/x")->archivedObject(),
                           {{"request", URLObjectCoding::encode(URLRequest("http://127.0.0.1:1/x", infinity))}});
    EXPECT_FALSE(URLConnectionOperation::decodeObject(fixture.dispatch, roundTrip(archived)));
}

// The readers make a fresh value at each reference, so an archive of a few kilobytes that refers to one object
// thousands of times is refused with a clear error instead of taking gigabytes and hours.
TEST(ArchiveBudget, ASerializerReferredToThousandsOfTimesIsRefused)
{
    // One serializer whose status codes are one range of 2^20 codes, listed 4,096 times; serializers nested
    // twenty deep, each listing the one below twice.
    const auto member = object(plainSerializer(), {{"acceptableStatusCodes", indexSet(1 << 20)}});
    for (const auto& hostile : {compoundOf(std::vector<ArchivedValue>(4096, ArchivedValue(member))), nested(20)}) {
        std::optional<Error> error;
        EXPECT_FALSE(HTTPResponseSerializer::decodeObject(roundTrip(hostile), &error));
        expectRefusedAsTooLarge(error);
    }
    // Once, the same serializer reads; the budget is the archive's, not the process's.
    auto once = std::dynamic_pointer_cast<CompoundResponseSerializer>(
        HTTPResponseSerializer::decodeObject(roundTrip(compoundOf({ArchivedValue(member)}))));
    ASSERT_TRUE(once);
    ASSERT_EQ(once->responseSerializers.size(), 1U);
    ASSERT_TRUE(once->responseSerializers.front()->acceptableStatusCodes);
    EXPECT_EQ(once->responseSerializers.front()->acceptableStatusCodes->size(), 1U << 20);
}

TEST(ArchiveBudget, HeaderFieldsReferredToManyTimesAreRefused)
{
    // 200 references to one pair of references to one megabyte: within what the unarchiver shares, but
    // 400 MB once every field is made. Written by hand, as this program's archiver writes a string at
    // each place it stands.
    auto classOf = [](PlistArray chain) {
        const PlistValue name = chain.front();
        return PlistValue(PlistDictionary{{"$classname", name}, {"$classes", std::move(chain)}});
    };
    const PlistValue archive = PlistDictionary{
        {"$archiver", "NSKeyedArchiver"},
        {"$version", 100000},
        {"$top", PlistDictionary{{"root", PlistUid{1}}}},
        {"$objects",
         PlistArray{"$null", PlistDictionary{{"$class", PlistUid{2}}, {"request", PlistUid{3}}, {"state", 1}, {"totalBytesRead", 0}},
                    classOf({"URLConnectionOperation", "NSOperation", "NSObject"}),
                    PlistDictionary{{"$class", PlistUid{4}}, {"URL", PlistUid{5}}, {"HTTPMethod", PlistUid{6}}, {"timeoutInterval", 10.0},
                                    {"cachePolicy", 0}, {"headerFields", PlistUid{7}}},
                    classOf({"NSURLRequest", "NSObject"}), "http://127.0.0.1/", "GET",
                    PlistDictionary{{"$class", PlistUid{8}}, {"NS.objects", PlistArray(200, PlistUid{9})}}, classOf({"NSArray", "NSObject"}),
                    PlistDictionary{{"$class", PlistUid{8}}, {"NS.objects", PlistArray{PlistUid{10}, PlistUid{10}}}}, std::string(1 << 20, 'x')}}};
    const auto value = KeyedUnarchiver::unarchive(archive);
    ASSERT_TRUE(value);
    RunLoop loop;
    Dispatch dispatch(loop);
    std::optional<Error> error;
    EXPECT_FALSE(URLConnectionOperation::decodeObject(dispatch, *value, &error));
    expectRefusedAsTooLarge(error);
}

// A text the readers take when it is there and pass over when it is not (a response's text encoding, a
// session's background identifier) still refuses the archive once it spends the budget: dropped, the
// archive would read as something it is not.
TEST(ArchiveBudget, AnOptionalTextPastTheBudgetRefusesTheArchiveAndTheBudgetIsTheDecodingThreadsOwn)
{
    // One text, shared by every place it is put.
    const ArchivedValue huge(PlistValue(std::string(ArchiveDecodingBudget::kMaximumCost + 1, 'x')));
    EXPECT_FALSE(URLObjectCoding::decodeSessionConfiguration(object("NSURLSessionConfiguration", {{"timeoutIntervalForRequest", PlistValue(60.0)},
        {"requestCachePolicy", PlistValue(0)}, {"HTTPShouldSetCookies", PlistValue(true)}, {"identifier", huge}})));
    EXPECT_FALSE(URLObjectCoding::decodeResponse(object("NSHTTPURLResponse", {{"URL", PlistValue("http://127.0.0.1/")}, {"isHTTP", PlistValue(true)},
        {"statusCode", PlistValue(200)}, {"MIMEType", PlistValue("text/plain")}, {"expectedContentLength", PlistValue(0)}, {"textEncodingName",
                                                                                                                            huge}})));
    RunLoop loop;
    Dispatch dispatch(loop);
    NotificationCenter center;
    std::optional<Error> error;
    EXPECT_FALSE(URLSessionManager::decodeObject(dispatch, center,
                                                 object(URLObjectCoding::makeObjectInFamily("HTTPSessionManager", "URLSessionManager"),
                                                        {{"identifier", huge}}), &error));
    expectRefusedAsTooLarge(error);
    // Each thread decodes against its own budget: a hostile archive spending its budget on one thread leaves
    // a large but honest one on another untouched, and a refusal leaves nothing behind for the next decode.
    const ArchivedValue hostile = roundTrip(nested(16));
    const ArchivedValue honest = roundTrip(compoundOf({ArchivedValue(object(plainSerializer(), {{"acceptableStatusCodes", indexSet(1 << 19)}}))}));
    std::atomic<int> ready{0};
    int refused = 0, read = 0;
    const auto decodeThrice = [&](const ArchivedValue& archived, int& count, bool wanted) {
        ++ready;
        while (ready.load() < 2) std::this_thread::yield();
        for (int round = 0; round < 3; ++round) count += (HTTPResponseSerializer::decodeObject(archived) != nullptr) == wanted ? 1 : 0;
    };
    std::thread spender(decodeThrice, std::cref(hostile), std::ref(refused), false);
    std::thread reader(decodeThrice, std::cref(honest), std::ref(read), true);
    spender.join();
    reader.join();
    EXPECT_EQ(std::pair(refused, read), std::pair(3, 3));
}

