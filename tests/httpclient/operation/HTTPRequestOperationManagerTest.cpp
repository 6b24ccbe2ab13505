#include <gtest/gtest.h>

#include <cmath>

#include <nlohmann/json.hpp>

#include "httpclient/operation/HTTPRequestOperationManager.h"
#include "httpclient/serialization/JSONRequestSerializer.h"
#include "httpclient/serialization/MultipartFormData.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/url/DataInputStream.h"
#include "platform/url/URLError.h"
#include "support/server/LoopbackServer.h"
#include "support/server/RawHTTPRecorder.h"

using namespace platform;
using support::LoopbackServer;
using Manager = HTTPRequestOperationManager;

namespace {

const std::string kBoundary = "Boundary+0000000A0000000B";

struct Result {
    int successes = 0;
    int failures = 0;
    bool onMain = false;
    Manager::OperationPtr operation;
    std::any object;
    std::optional<Error> error;
};

struct OperationManagerFixture : ::testing::Test {
    RunLoop loop;
    Dispatch dispatch{loop};
    LoopbackServer server;
    Manager manager{dispatch, server.url("/api")};

    void SetUp() override
    {
        auto serializer = std::make_shared<HTTPRequestSerializer>(ProcessInfo{});
        serializer->randomSource = [n = 9u]() mutable { return ++n; };
        manager.setRequestSerializer(serializer);
    }
    Manager::SuccessBlock success(const std::shared_ptr<Result>& result)
    {
        return [this, result](const Manager::OperationPtr& operation, const std::any& object) {
            ++result->successes;
            result->onMain = loop.isMainThread();
            result->operation = operation;
            result->object = object;
        };
    }
    Manager::FailureBlock failure(const std::shared_ptr<Result>& result)
    {
        return [this, result](const Manager::OperationPtr& operation, const Error& error) {
            ++result->failures;
            result->onMain = loop.isMainThread();
            result->operation = operation;
            result->error = error;
        };
    }
    Result wait(const std::shared_ptr<Result>& result)
    {
        EXPECT_TRUE(loop.runUntil([&] { return result->successes + result->failures > 0; }));
        loop.runUntilIdle();
        return *result;
    }
};

using Call = std::function<Manager::OperationPtr(Manager&, const std::string&, const ParameterValue&, Manager::SuccessBlock,
                                                 Manager::FailureBlock)>;
struct Verb {
    std::string method;
    Call call;
    bool inQuery;
};

const std::vector<Verb>& verbs()
{
    static const std::vector<Verb> all = {
        {"GET", [](auto& m, auto& u, auto& p, auto s, auto f) { return m.GET(u, p, s, f); }, true},
        {"HEAD",
         [](auto& m, auto& u, auto& p, auto s, auto f) {
             return m.HEAD(u, p, [s](const Manager::OperationPtr& operation) { s(operation, std::any()); }, f);
         },
         true},
        {"POST", [](auto& m, auto& u, auto& p, auto s, auto f) { return m.POST(u, p, s, f); }, false},
        {"PUT", [](auto& m, auto& u, auto& p, auto s, auto f) { return m.PUT(u, p, s, f); }, false},
        {"PATCH", [](auto& m, auto& u, auto& p, auto s, auto f) { return m.PATCH(u, p, s, f); }, false},
        {"DELETE", [](auto& m, auto& u, auto& p, auto s, auto f) { return m.DELETE(u, p, s, f); }, true},
    };
    return all;
}

}  // namespace

TEST_F(OperationManagerFixture, EveryVerbQueuesAConfiguredOperationThatSendsItsParameters)
{
    server.serve("/api/items", "{\"ok\":true}", "application/json");
    server.serve("/api/broken", LoopbackServer::Reply{500, "application/json", "{}", {}, 0});
    manager.credential = URLCredential::credentialWithUser("ann", "pw");
    manager.shouldUseCredentialStorage = false;
    const ParameterValue parameters = ParameterDictionary{{"a", 1}, {"b", "x y"}};
    for (const std::string path : {"items", "broken"}) {
        for (const Verb& verb : verbs()) {
            SCOPED_TRACE(verb.method + " " + path);
            auto result = std::make_shared<Result>();
            auto operation = verb.call(manager, path, parameters, success(result), failure(result));
            ASSERT_TRUE(operation);
            EXPECT_EQ(operation->responseSerializer(), manager.responseSerializer());
            EXPECT_EQ(operation->securityPolicy(), manager.securityPolicy);
            EXPECT_EQ(operation->credential()->user, "ann");
            EXPECT_FALSE(operation->shouldUseCredentialStorage());
            const Result outcome = wait(result);
            EXPECT_TRUE(outcome.onMain);
            EXPECT_EQ(outcome.operation, operation);
            const LoopbackServer::Request seen = server.requests("/api/" + path).back();
            EXPECT_EQ(seen.method, verb.method);
            EXPECT_EQ(seen.query, verb.inQuery ? "a=1&b=x%20y" : "");
            EXPECT_EQ(seen.body, verb.inQuery ? "" : "a=1&b=x%20y");
            if (path == "broken") {
                EXPECT_EQ(outcome.successes, 0);
                ASSERT_EQ(outcome.failures, 1);
                EXPECT_EQ(outcome.error->code, -1011);
                continue;
            }
            EXPECT_EQ(outcome.failures, 0);
            ASSERT_EQ(outcome.successes, 1);
            if (verb.method == "HEAD") continue;
            const auto* json = std::any_cast<nlohmann::json>(&outcome.object);
            ASSERT_TRUE(json);
            EXPECT_EQ((*json)["ok"], true);
        }
    }
}

TEST_F(OperationManagerFixture, ARequestThatCannotBeBuiltQueuesNothingAndFailsLaterWithoutAnOperation)
{
    Manager json(dispatch, server.url("/api"));
    json.setRequestSerializer(JSONRequestSerializer::serializer());
    Manager baseless(dispatch);
    struct Case {
        Manager* manager;
        std::string url;
        ParameterValue parameters;
        std::string domain;
        std::int64_t code;
    };
    const std::vector<Case> cases = {
        {&manager, "http://[::1", ParameterDictionary{}, kURLErrorDomain, URLErrorBadURL},
        {&manager, "http://h:99999/", ParameterDictionary{}, kURLErrorDomain, URLErrorBadURL},
        {&baseless, "items", ParameterDictionary{}, kURLErrorDomain, URLErrorBadURL},
        {&json, "items", ParameterDictionary{{"x", std::nan("")}}, URLRequestSerializationErrorDomain,
         URLRequestSerializationErrorUnwritable},
    };
    for (const Case& c : cases) {
        for (const Verb& verb : verbs()) {
            if (c.manager == &json && verb.inQuery) continue;
            SCOPED_TRACE(verb.method + " " + c.url);
            auto result = std::make_shared<Result>();
            EXPECT_FALSE(verb.call(*c.manager, c.url, c.parameters, success(result), failure(result)));
            EXPECT_EQ(c.manager->operationQueue().operationCount(), 0u);
            EXPECT_EQ(result->failures, 0) << "reported before the call returned";
            const Result outcome = wait(result);
            EXPECT_EQ(outcome.successes, 0);
            ASSERT_EQ(outcome.failures, 1);
            EXPECT_TRUE(outcome.onMain);
            EXPECT_FALSE(outcome.operation);
            EXPECT_EQ(outcome.error->domain, c.domain);
            EXPECT_EQ(outcome.error->code, c.code);
        }
    }
}

TEST_F(OperationManagerFixture, BaseURLsResolveBelowTheirPathAndCopiesHaveTheirOwnSerializers)
{
    server.serve("/api/v1/items", "{}", "application/json");
    Manager versioned(dispatch, server.url("/api/v1"));
    EXPECT_EQ(versioned.baseURL(), server.url("/api/v1/"));
    EXPECT_EQ(Manager(dispatch, "http://h").baseURL(), "http://h");
    auto copied = versioned.copy();
    EXPECT_EQ(copied->baseURL(), versioned.baseURL());
    EXPECT_NE(copied->requestSerializer(), versioned.requestSerializer());
    EXPECT_NE(copied->responseSerializer(), versioned.responseSerializer());
    auto result = std::make_shared<Result>();
    copied->GET("items", std::nullopt, success(result), failure(result));
    EXPECT_EQ(wait(result).successes, 1);
    EXPECT_EQ(server.hits("/api/v1/items"), 1);
}

TEST_F(OperationManagerFixture, AMultipartPostSendsItsBodyByteForByteAndAgainAfterA307)
{
    support::RawHTTPRecorder wire;
    wire.redirect("/moved", "/moved-here", 307);
    const std::string expected = "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\nhello\r\n--" + kBoundary +
                                 "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"f.bin\"\r\n"
                                 "Content-Type: application/x-raw\r\n\r\n" + std::string("\0\r\n--", 5) + "\r\n--" + kBoundary + "--\r\n";
    for (const std::string path : {"/upload", "/moved"}) {
        SetUp();
        auto result = std::make_shared<Result>();
        ASSERT_TRUE(manager.POST(
            wire.url(path), ParameterDictionary{{"note", "hello"}},
            [](MultipartFormData& form) { form.appendPartWithFileData(Bytes{0, '\r', '\n', '-', '-'}, "file", "f.bin", "application/x-raw"); },
            success(result), failure(result)));
        EXPECT_EQ(wait(result).successes, 1);
    }
    for (const std::string path : {"/upload", "/moved", "/moved-here"}) {
        SCOPED_TRACE(path);
        ASSERT_EQ(wire.requests(path).size(), 1u);
        EXPECT_EQ(wire.requests(path).front().method, "POST");
        EXPECT_EQ(wire.requests(path).front().body, expected);
    }
}

TEST_F(OperationManagerFixture, A307WhoseBodyStreamCannotBeReadAgainFailsTheOperation)
{
    support::RawHTTPRecorder wire;
    wire.redirect("/moved", "/moved-here", 307);
    URLRequest streamed(wire.url("/moved"), 5);
    streamed.httpMethod = "PUT";
    // A stream of our own that cannot be copied.
    struct OneShot final : InputStream {
        DataInputStream inner{Bytes(32, 'x')};
        void open() override { inner.open(); }
        void close() override { inner.close(); }
        std::int64_t read(std::uint8_t* buffer, std::size_t length) override { return inner.read(buffer, length); }
        bool hasBytesAvailable() const override { return inner.hasBytesAvailable(); }
        StreamStatus streamStatus() const override { return inner.streamStatus(); }
        std::optional<Error> streamError() const override { return std::nullopt; }
    };
    for (bool copyable : {true, false}) {
        SCOPED_TRACE(copyable);
        streamed.httpBodyStream = copyable ? std::shared_ptr<InputStream>(std::make_shared<DataInputStream>(Bytes(32, 'x')))
                                           : std::make_shared<OneShot>();
        auto result = std::make_shared<Result>();
        auto operation = manager.HTTPRequestOperationWithRequest(streamed, success(result), failure(result));
        manager.operationQueue().addOperation([operation] { operation->start(); });
        const Result outcome = wait(result);
        EXPECT_EQ(outcome.successes, copyable ? 1 : 0);
        EXPECT_EQ(wire.requests("/moved-here").size(), 1u);
        if (copyable) {
            EXPECT_EQ(wire.requests("/moved-here").back().body, std::string(32, 'x'));
            continue;
        }
        ASSERT_EQ(outcome.failures, 1);
        EXPECT_EQ(outcome.error->code, URLErrorRequestBodyStreamExhausted);
    }
    EXPECT_EQ(wire.requests("/moved").size(), 2u);
}
