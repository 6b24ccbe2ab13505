// The HTTP layer's classes in keyed archives: what a round trip through the archive's bytes keeps, and
// the archives a reader refuses.
#include <gtest/gtest.h>

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

// Through the archive's bytes and back.
ArchivedValue roundTrip(std::shared_ptr<ArchivedObject> object)
{
    auto bytes = KeyedArchiver::archive(ArchivedValue(std::move(object)));
    EXPECT_TRUE(bytes);
    auto value = KeyedUnarchiver::unarchive(*bytes);
    EXPECT_TRUE(value);
    return value ? *value : ArchivedValue();
}

template <typename T>
std::shared_ptr<T> responseRoundTrip(const HTTPResponseSerializer& serializer)
{
    auto decoded = HTTPResponseSerializer::decodeObject(roundTrip(serializer.archivedObject()));
    EXPECT_TRUE(decoded);
    auto typed = std::dynamic_pointer_cast<T>(decoded);
    EXPECT_TRUE(typed) << serializer.archivedClassName();
    return typed;
}

}  // namespace

TEST(Archiving, ResponseSerializersComeBackAsTheirClassWithTheirFields)
{
    auto json = JSONResponseSerializer::serializerWithReadingOptions(4);
    json->removesKeysWithNullValues = true;
    json->acceptableStatusCodes = std::set<std::int64_t>{200, 204, 300, 301, 302};
    json->acceptableContentTypes = std::set<std::string>{"application/json", "text/plain"};
    auto jsonBack = responseRoundTrip<JSONResponseSerializer>(*json);
    ASSERT_TRUE(jsonBack);
    EXPECT_EQ(jsonBack->readingOptions, 4u);
    EXPECT_TRUE(jsonBack->removesKeysWithNullValues);
    EXPECT_EQ(jsonBack->acceptableStatusCodes, json->acceptableStatusCodes);
    EXPECT_EQ(jsonBack->acceptableContentTypes, json->acceptableContentTypes);

    // No check at all is kept as none, not as the defaults.
    auto plain = HTTPResponseSerializer::serializer();
    plain->acceptableStatusCodes.reset();
    auto plainBack = responseRoundTrip<HTTPResponseSerializer>(*plain);
    ASSERT_TRUE(plainBack);
    EXPECT_FALSE(plainBack->acceptableStatusCodes);
    EXPECT_FALSE(plainBack->acceptableContentTypes);

    auto xmlBack = responseRoundTrip<XMLDocumentResponseSerializer>(*XMLDocumentResponseSerializer::serializerWithXMLDocumentOptions(9));
    ASSERT_TRUE(xmlBack);
    EXPECT_EQ(xmlBack->options, 9u);
    auto listBack = responseRoundTrip<PropertyListResponseSerializer>(*PropertyListResponseSerializer::serializerWithFormat(200, 2));
    ASSERT_TRUE(listBack);
    EXPECT_EQ(listBack->format, 200u);
    EXPECT_EQ(listBack->readOptions, 2u);
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
}

TEST(Archiving, RequestSerializersKeepTheirHeadersStyleAndOptions)
{
    auto json = JSONRequestSerializer::serializerWithWritingOptions(JSONRequestSerializer::kJSONWritingPrettyPrinted);
    json->setValue(std::string("secret"), "X-Token");
    json->setQueryStringSerializationWithStyle(0);
    auto back = std::dynamic_pointer_cast<JSONRequestSerializer>(HTTPRequestSerializer::decodeObject(roundTrip(json->archivedObject())));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->writingOptions, JSONRequestSerializer::kJSONWritingPrettyPrinted);
    EXPECT_EQ(back->valueForHTTPHeaderField("X-Token"), "secret");
    EXPECT_EQ(back->HTTPRequestHeaders(), json->HTTPRequestHeaders());

    auto list = PropertyListRequestSerializer::serializerWithFormat(PropertyListRequestSerializer::kPropertyListBinaryFormat, 3);
    auto listBack =
        std::dynamic_pointer_cast<PropertyListRequestSerializer>(HTTPRequestSerializer::decodeObject(roundTrip(list->archivedObject())));
    ASSERT_TRUE(listBack);
    EXPECT_EQ(listBack->format, PropertyListRequestSerializer::kPropertyListBinaryFormat);
    EXPECT_EQ(listBack->writeOptions, 3u);
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
    auto back = std::dynamic_pointer_cast<HTTPRequestOperation>(
        URLConnectionOperation::decodeObject(fixture.dispatch, roundTrip(operation->archivedObject()), &error));
    ASSERT_TRUE(back) << (error ? error->describe() : "");
    EXPECT_EQ(back->request().url, request.url);
    EXPECT_EQ(back->request().httpMethod, "PUT");
    EXPECT_EQ(back->request().httpBody, request.httpBody);
    EXPECT_EQ(back->request().valueForHTTPHeaderField("X-Field"), "v");
    EXPECT_EQ(back->request().timeoutInterval, 12.0);
    EXPECT_EQ(back->request().cachePolicy, URLRequest::ReloadIgnoringLocalCacheData);
    ASSERT_TRUE(back->response());
    EXPECT_EQ(back->response()->statusCode, 200);
    EXPECT_EQ(back->response()->valueForHTTPHeaderField("ETag"), "\"e\"");
    EXPECT_EQ(back->response()->textEncodingName, "utf-8");
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
    EXPECT_EQ(failedBack->error()->code, failed->error()->code);
    EXPECT_EQ(failedBack->error()->domain, failed->error()->domain);

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
    auto sessionBack = std::dynamic_pointer_cast<HTTPSessionManager>(
        URLSessionManager::decodeObject(fixture.dispatch, center, roundTrip(session->archivedObject())));
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
    for (auto& manager : {session, std::static_pointer_cast<HTTPSessionManager>(sessionBack)}) manager->invalidateSessionCancelingTasks(true);
    plain->invalidateSessionCancelingTasks(true);
    plainBack->invalidateSessionCancelingTasks(true);
}

TEST(Archiving, ArchivesOfAnotherKindOrWithHostileFieldsAreRefused)
{
    HttpFixture fixture;
    auto refusedResponse = [](std::shared_ptr<ArchivedObject> object) {
        std::optional<Error> error;
        const bool refused = !HTTPResponseSerializer::decodeObject(roundTrip(std::move(object)), &error);
        return refused && error.has_value();
    };
    auto named = [](const std::string& name) { return URLObjectCoding::makeObject(name); };
    EXPECT_TRUE(refusedResponse(named("NSObject")));
    EXPECT_TRUE(refusedResponse(named("HTTPRequestSerializer")));
    EXPECT_FALSE(HTTPResponseSerializer::decodeObject(ArchivedValue(PlistValue("HTTPResponseSerializer"))));

    auto wrongKind = HTTPResponseSerializer::serializer()->archivedObject();
    wrongKind->set("acceptableStatusCodes", PlistValue("200-299"));
    EXPECT_TRUE(refusedResponse(wrongKind));

    // An index set may not ask for more members than a reader keeps, nor run past the end of its data.
    auto huge = HTTPResponseSerializer::serializer()->archivedObject();
    auto indexes = URLObjectCoding::makeObject("NSIndexSet");
    indexes->set("NSRangeCount", PlistValue(1));
    indexes->set("NSLocation", PlistValue(0));
    indexes->set("NSLength", PlistValue(std::int64_t{1} << 40));
    huge->set("acceptableStatusCodes", ArchivedValue(indexes));
    EXPECT_TRUE(refusedResponse(huge));
    auto cut = HTTPResponseSerializer::serializer()->archivedObject();
    auto ranges = URLObjectCoding::makeObject("NSIndexSet");
    ranges->set("NSRangeCount", PlistValue(3));
    ranges->set("NSRangeData", PlistValue(Bytes{200, 1, 0x80}));
    cut->set("acceptableStatusCodes", ArchivedValue(ranges));
    EXPECT_TRUE(refusedResponse(cut));

    auto json = JSONResponseSerializer::serializer()->archivedObject();
    json->set("removesKeysWithNullValues", PlistValue("yes"));
    EXPECT_TRUE(refusedResponse(json));
    auto compound = CompoundResponseSerializer::compoundSerializerWithResponseSerializers({})->archivedObject();
    compound->set("responseSerializers", ArchivedValue::array({ArchivedValue(named("Evil"))}));
    EXPECT_TRUE(refusedResponse(compound));

    EXPECT_FALSE(HTTPRequestSerializer::decodeObject(roundTrip(named("JSONResponseSerializer"))));
    auto noHeaders = HTTPRequestSerializer::serializer()->archivedObject();
    noHeaders->set("mutableHTTPRequestHeaders", PlistValue(3));
    EXPECT_FALSE(HTTPRequestSerializer::decodeObject(roundTrip(noHeaders)));

    auto operation = fixture.operation("http://127.0.0.1:1/x");
    auto withoutRequest = operation->archivedObject();
    withoutRequest->set("request", PlistValue("http://127.0.0.1:1/x"));
    EXPECT_FALSE(URLConnectionOperation::decodeObject(fixture.dispatch, roundTrip(withoutRequest)));
    auto badResponse = operation->archivedObject();
    badResponse->set("response", ArchivedValue(named("NSHTTPURLResponse")));
    EXPECT_FALSE(URLConnectionOperation::decodeObject(fixture.dispatch, roundTrip(badResponse)));
    auto badManager = std::make_unique<HTTPRequestOperationManager>(fixture.dispatch)->archivedObject();
    badManager->set("responseSerializer", ArchivedValue(named("NSData")));
    EXPECT_FALSE(HTTPRequestOperationManager::decodeObject(fixture.dispatch, roundTrip(badManager)));
}
