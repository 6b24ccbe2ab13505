#include <gtest/gtest.h>

#include <cmath>

#include <nlohmann/json.hpp>

#include "httpclient/serialization/JSONRequestSerializer.h"
#include "httpclient/serialization/MultipartFormData.h"
#include "httpclient/session/HTTPSessionManager.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/url/DataInputStream.h"
#include "platform/url/URLError.h"
#include "support/server/LoopbackServer.h"
#include "support/server/RawHTTPRecorder.h"

using namespace platform;
using support::LoopbackServer;

namespace {

const std::string kBoundary = "Boundary+0000000A0000000B";

struct Result {
    int successes = 0;
    int failures = 0;
    bool onMain = false;
    bool hadTask = false;
    std::any object;
    std::optional<Error> error;
};

struct HTTPSessionFixture : ::testing::Test {
    RunLoop loop;
    Dispatch dispatch{loop};
    NotificationCenter center;
    LoopbackServer server;
    std::shared_ptr<HTTPSessionManager> manager = HTTPSessionManager::create(dispatch, center, server.url("/api"));

    void SetUp() override
    {
        auto serializer = std::make_shared<HTTPRequestSerializer>(ProcessInfo{});
        serializer->randomSource = [n = 9u]() mutable { return ++n; };
        manager->setRequestSerializer(serializer);
    }
    void TearDown() override
    {
        bool invalid = false;
        manager->setSessionDidBecomeInvalidBlock([&](URLSession&, const std::optional<Error>&) { invalid = true; });
        manager->invalidateSessionCancelingTasks(true);
        loop.runUntil([&] { return invalid; });
    }

    HTTPSessionManager::SuccessBlock success(const std::shared_ptr<Result>& result)
    {
        return [this, result](const URLSessionManager::TaskPtr& task, const std::any& object) {
            ++result->successes;
            result->onMain = loop.isMainThread();
            result->hadTask = task != nullptr;
            result->object = object;
        };
    }
    HTTPSessionManager::FailureBlock failure(const std::shared_ptr<Result>& result)
    {
        return [this, result](const URLSessionManager::TaskPtr& task, const Error& error) {
            ++result->failures;
            result->onMain = loop.isMainThread();
            result->hadTask = task != nullptr;
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

using Call = std::function<URLSessionManager::TaskPtr(HTTPSessionManager&, const std::string&, const ParameterValue&,
                                                      HTTPSessionManager::SuccessBlock, HTTPSessionManager::FailureBlock)>;

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
             return m.HEAD(u, p, [s](const URLSessionManager::TaskPtr& task) { s(task, std::any()); }, f);
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

TEST_F(HTTPSessionFixture, EveryVerbSendsItsParametersResolvedBelowTheBaseAndSucceedsOnMain)
{
    server.serve("/api/items", "{\"ok\":true}", "application/json");
    const ParameterValue parameters = ParameterDictionary{{"a", 1}, {"b", "x y"}};
    for (const Verb& verb : verbs()) {
        SCOPED_TRACE(verb.method);
        const int before = server.hits("/api/items");
        auto result = std::make_shared<Result>();
        auto task = verb.call(*manager, "items", parameters, success(result), failure(result));
        ASSERT_TRUE(task);
        EXPECT_NE(task->state(), URLSessionTaskState::Suspended);
        const Result outcome = wait(result);
        EXPECT_EQ(outcome.successes, 1);
        EXPECT_EQ(outcome.failures, 0);
        EXPECT_TRUE(outcome.onMain && outcome.hadTask);
        ASSERT_EQ(server.hits("/api/items"), before + 1);
        const LoopbackServer::Request seen = server.requests("/api/items").back();
        EXPECT_EQ(seen.method, verb.method);
        EXPECT_EQ(seen.query, verb.inQuery ? "a=1&b=x%20y" : "");
        EXPECT_EQ(seen.body, verb.inQuery ? "" : "a=1&b=x%20y");
        EXPECT_EQ(seen.header("Content-Type"), verb.inQuery ? "" : "application/x-www-form-urlencoded");
        if (verb.method == "HEAD") continue;
        const auto* json = std::any_cast<nlohmann::json>(&outcome.object);
        ASSERT_TRUE(json);
        EXPECT_EQ((*json)["ok"], true);
    }
}

TEST_F(HTTPSessionFixture, FailuresReachOnlyTheFailureBlockWithTheTask)
{
    server.serve("/api/broken", LoopbackServer::Reply{500, "application/json", "{}", {}, 0});
    server.serve("/api/page", "<html/>", "text/html");
    for (const std::string path : {"broken", "page"}) {
        for (const Verb& verb : verbs()) {
            SCOPED_TRACE(verb.method + " " + path);
            auto result = std::make_shared<Result>();
            ASSERT_TRUE(verb.call(*manager, path, ParameterDictionary{}, success(result), failure(result)));
            const Result outcome = wait(result);
            EXPECT_EQ(outcome.successes, 0);
            ASSERT_EQ(outcome.failures, 1);
            EXPECT_TRUE(outcome.onMain && outcome.hadTask);
            EXPECT_EQ(outcome.error->domain, URLResponseSerializationErrorDomain);
            EXPECT_EQ(outcome.error->code, path == "broken" ? -1011 : -1016);
        }
    }
}

TEST_F(HTTPSessionFixture, ARequestThatCannotBeBuiltReturnsNoTaskAndFailsLaterOnTheCompletionQueue)
{
    auto json = HTTPSessionManager::create(dispatch, center, server.url("/api"));
    json->setRequestSerializer(JSONRequestSerializer::serializer());
    struct Case {
        std::shared_ptr<HTTPSessionManager> manager;
        std::string url;
        ParameterValue parameters;
        std::string domain;
        std::int64_t code;
    };
    const std::vector<Case> cases = {
        {manager, "http://[::1", ParameterDictionary{}, kURLErrorDomain, URLErrorBadURL},
        {manager, "http://h:99999/", ParameterDictionary{}, kURLErrorDomain, URLErrorBadURL},
        {HTTPSessionManager::manager(dispatch, center), "items", ParameterDictionary{}, kURLErrorDomain, URLErrorBadURL},
        {json, "items", ParameterDictionary{{"x", std::nan("")}}, URLRequestSerializationErrorDomain, URLRequestSerializationErrorUnwritable},
    };
    for (const Case& c : cases) {
        for (const Verb& verb : verbs()) {
            if (c.manager == json && verb.inQuery) continue;
            SCOPED_TRACE(verb.method + " " + c.url);
            auto result = std::make_shared<Result>();
            EXPECT_FALSE(verb.call(*c.manager, c.url, c.parameters, success(result), failure(result)));
            EXPECT_EQ(result->failures, 0) << "reported before the call returned";
            const Result outcome = wait(result);
            EXPECT_EQ(outcome.successes, 0);
            ASSERT_EQ(outcome.failures, 1);
            EXPECT_TRUE(outcome.onMain);
            EXPECT_FALSE(outcome.hadTask);
            EXPECT_EQ(outcome.error->domain, c.domain);
            EXPECT_EQ(outcome.error->code, c.code);
        }
        EXPECT_TRUE(c.manager->tasks().empty());
    }
    for (const auto& other : {json, cases[2].manager}) {
        bool invalid = false;
        other->setSessionDidBecomeInvalidBlock([&](URLSession&, const std::optional<Error>&) { invalid = true; });
        other->invalidateSessionCancelingTasks(true);
        loop.runUntil([&] { return invalid; });
    }
}

TEST_F(HTTPSessionFixture, BaseURLsGainASlashOnlyAfterAPath)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"http://h/api", "http://h/api/"},
        {"http://h/api/", "http://h/api/"},
        {"http://h", "http://h"},
        {"http://h/a/b?q=1", "http://h/a/b/?q=1"},
    };
    for (const auto& [given, stored] : cases) {
        auto other = HTTPSessionManager::create(dispatch, center, given);
        EXPECT_EQ(other->baseURL(), stored);
        auto copied = other->copy();
        EXPECT_EQ(copied->baseURL(), stored);
        EXPECT_NE(copied->requestSerializer(), other->requestSerializer());
        EXPECT_NE(copied->responseSerializer(), other->responseSerializer());
        for (const auto& each : {other, copied}) {
            bool invalid = false;
            each->setSessionDidBecomeInvalidBlock([&](URLSession&, const std::optional<Error>&) { invalid = true; });
            each->invalidateSessionCancelingTasks(true);
            loop.runUntil([&] { return invalid; });
        }
    }
    server.serve("/elsewhere", "{}", "application/json");
    auto result = std::make_shared<Result>();
    manager->GET(server.url("/elsewhere"), std::nullopt, success(result), failure(result));
    EXPECT_EQ(wait(result).successes, 1);
    EXPECT_EQ(server.hits("/elsewhere"), 1);
}

TEST_F(HTTPSessionFixture, AMultipartPostStreamsItsBodyByteForByteAndRenewsItForA307)
{
    support::RawHTTPRecorder wire;
    wire.redirect("/api/moved", "/api/moved-here", 307);
    const std::string binary("\0\1\2\r\n--\377", 8);
    const std::string expected = "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\nhello\r\n--" + kBoundary +
                                 "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"f.bin\"\r\n"
                                 "Content-Type: application/x-raw\r\n\r\n" + binary + "\r\n--" + kBoundary + "--\r\n";
    for (const std::string path : {"/api/upload", "/api/moved"}) {
        SCOPED_TRACE(path);
        SetUp();
        auto result = std::make_shared<Result>();
        auto task = manager->POST(
            wire.url(path), ParameterDictionary{{"note", "hello"}},
            [&](MultipartFormData& form) { form.appendPartWithFileData(Bytes(binary.begin(), binary.end()), "file", "f.bin", "application/x-raw"); },
            success(result), failure(result));
        ASSERT_TRUE(task);
        EXPECT_EQ(task->kind(), URLSessionTask::Kind::Upload);
        EXPECT_EQ(wait(result).successes, 1);
        for (const std::string& seenAt : path == "/api/upload" ? std::vector<std::string>{path} : std::vector<std::string>{path, "/api/moved-here"}) {
            ASSERT_EQ(wire.requests(seenAt).size(), 1u) << seenAt;
            const support::RawHTTPRecorder::Request seen = wire.requests(seenAt).front();
            EXPECT_EQ(seen.method, "POST");
            EXPECT_NE(seen.head.find("\r\nContent-Type: multipart/form-data; boundary=" + kBoundary + "\r\n"), std::string::npos);
            EXPECT_NE(seen.head.find("\r\nContent-Length: " + std::to_string(expected.size()) + "\r\n"), std::string::npos);
            EXPECT_EQ(seen.body, expected);
        }
    }
}

TEST_F(HTTPSessionFixture, A307WhoseBodyStreamCannotBeReadAgainFailsInsteadOfSendingAShortBody)
{
    support::RawHTTPRecorder wire;
    wire.redirect("/moved", "/moved-here", 307);
    auto result = std::make_shared<Result>();
    auto task = manager->POST(
        wire.url("/moved"), std::nullopt,
        [](MultipartFormData& form) {
            form.appendPartWithInputStream(std::make_shared<DataInputStream>(Bytes(64, 'x')), "s", "s.bin", 64, "application/x-raw");
        },
        success(result), failure(result));
    ASSERT_TRUE(task);
    const Result outcome = wait(result);
    ASSERT_EQ(outcome.failures, 1);
    EXPECT_TRUE(outcome.hadTask);
    // The first answer got the whole body; the second attempt's copy finds the part's stream spent.
    ASSERT_EQ(wire.requests("/moved").size(), 1u);
    EXPECT_TRUE(wire.requests("/moved").front().body.ends_with(kBoundary + "--\r\n"));
    EXPECT_TRUE(wire.requests("/moved-here").empty());
    EXPECT_EQ(outcome.error->domain, URLRequestSerializationErrorDomain);
    EXPECT_EQ(outcome.error->code, URLRequestSerializationErrorIncompleteBody);
}
