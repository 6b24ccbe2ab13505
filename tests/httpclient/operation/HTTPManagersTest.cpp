// Both HTTP managers, the session-based and the operation-based, keep one contract; each test runs on both.
#include <gtest/gtest.h>

#include "support/httpclient/HTTPManagersFixture.h"

using namespace support::httpmanagers;

using Kinds = ::testing::Types<SessionKind, OperationKind>;
TYPED_TEST_SUITE(HTTPManagers, Kinds);

TYPED_TEST(HTTPManagers, EveryVerbSendsItsParametersBelowTheBaseAndReportsThroughOneBlockOnMain)
{
    this->server.serve("/api/items", "{\"ok\":true}", "application/json");
    this->server.serve("/api/broken", LoopbackServer::Reply{500, "application/json", "{}", {}, 0});
    this->server.serve("/api/page", "<html/>", "text/html");
    auto manager = this->make(this->server.url("/api"));
    for (const std::string path : {"items", "broken", "page"}) {
        for (const auto& verb : TestFixture::Verb::all()) {
            SCOPED_TRACE(verb.method + " " + path);
            typename TestFixture::Call call{this->loop};
            auto handle = verb.call(*manager, path, ParameterDictionary{{"a", 1}, {"b", "x y"}}, call.success(), call.failure());
            ASSERT_TRUE(handle);
            ASSERT_TRUE(call.wait());
            const auto& outcome = *call.outcome;
            EXPECT_TRUE(outcome.onMain);
            EXPECT_EQ(outcome.handle, handle);
            const LoopbackServer::Request seen = this->server.requests("/api/" + path).back();
            EXPECT_EQ(seen.method, verb.method);
            EXPECT_EQ(seen.query, verb.inQuery ? "a=1&b=x%20y" : "");
            EXPECT_EQ(seen.body, verb.inQuery ? "" : "a=1&b=x%20y");
            EXPECT_EQ(seen.header("Content-Type"), verb.inQuery ? "" : "application/x-www-form-urlencoded");
            EXPECT_EQ(std::pair(outcome.successes, outcome.failures), path == "items" ? std::pair(1, 0) : std::pair(0, 1));
            EXPECT_EQ(outcome.error ? outcome.error->code : 0, path == "items" ? 0 : path == "broken" ? -1011 : -1016);
            if (path == "items" && verb.method != "HEAD") { EXPECT_EQ(std::any_cast<nlohmann::json>(outcome.object)["ok"], true); }
        }
    }
}

TYPED_TEST(HTTPManagers, ARequestThatCannotBeBuiltStartsNothingAndFailsLaterOnTheCompletionQueue)
{
    auto manager = this->make(this->server.url("/api"));
    auto json = this->make(this->server.url("/api"), JSONRequestSerializer::serializer());
    const std::vector<std::tuple<std::shared_ptr<typename TestFixture::Manager>, std::string, ParameterValue, std::int64_t>> cases = {
        {manager, "http://[::1", ParameterDictionary{}, URLErrorBadURL},
        {manager, "http://h:99999/", ParameterDictionary{}, URLErrorBadURL},
        // Texts the resolver takes and the request serializer refuses.
        {manager, "items?q={x}", ParameterDictionary{}, URLErrorBadURL},
        {manager, "a|b", ParameterDictionary{}, URLErrorBadURL},
        {this->make(std::nullopt), "items", ParameterDictionary{}, URLErrorBadURL},
        {json, "items", ParameterDictionary{{"x", std::nan("")}}, URLRequestSerializationErrorUnwritable},
    };
    for (const auto& [target, url, parameters, code] : cases) {
        for (const auto& verb : TestFixture::Verb::all()) {
            if (target == json && verb.inQuery) continue;
            SCOPED_TRACE(verb.method + " " + url);
            typename TestFixture::Call call{this->loop};
            EXPECT_FALSE(verb.call(*target, url, parameters, call.success(), call.failure()));
            EXPECT_EQ(call.outcome->failures, 0) << "reported before the call returned";
            ASSERT_TRUE(call.wait());
            EXPECT_EQ(call.outcome->failures, 1);
            EXPECT_TRUE(call.outcome->onMain);
            EXPECT_FALSE(call.outcome->handle);
            EXPECT_EQ(call.outcome->error->code, code);
        }
    }
}

TYPED_TEST(HTTPManagers, RequestsWithoutABodySayTheirLengthIsZero)
{
    this->server.serve("/api/empty", "{}", "application/json");
    auto manager = this->make(this->server.url("/api"));
    auto verbs = TestFixture::Verb::all();
    // A multipart POST whose form got no part is the request unchanged: no body either.
    verbs.push_back({"POST", [](auto& m, auto& u, auto& p, auto s, auto f) { return m.POST(u, p, [](MultipartFormData&) {}, s, f); }, false});
    for (const auto& verb : verbs) {
        SCOPED_TRACE(verb.method);
        typename TestFixture::Call call{this->loop};
        const auto before = this->server.requests("/api/empty").size();
        ASSERT_TRUE(verb.call(*manager, "empty", std::nullopt, call.success(), call.failure()));
        ASSERT_TRUE(call.wait());
        EXPECT_EQ(call.outcome->successes, 1) << (call.outcome->error ? call.outcome->error->describe() : "");
        const auto seen = this->server.requests("/api/empty");
        ASSERT_EQ(seen.size(), before + 1);
        EXPECT_EQ(seen.back().method, verb.method);
        EXPECT_EQ(seen.back().body, "");
        EXPECT_EQ(seen.back().header("Content-Type"), "");
        EXPECT_EQ(seen.back().header("Content-Length"), verb.inQuery ? "" : "0");
    }
}

TYPED_TEST(HTTPManagers, BaseURLsGainASlashOnlyAfterAPathAndCopiesKeepItWithTheirOwnSerializers)
{
    const auto copy = [this](const auto& manager) {
        std::shared_ptr<typename TestFixture::Manager> copied = manager->copy();
        this->made.push_back(copied);
        return copied;
    };
    for (const auto& [given, stored] : std::vector<std::pair<std::string, std::string>>{
             {"http://h/api", "http://h/api/"}, {"http://h/api/", "http://h/api/"}, {"http://h", "http://h"}, {"http://h/a?q=1",
                                                                                                               "http://h/a/?q=1"}}) {
        auto manager = this->make(given);
        EXPECT_EQ(manager->baseURL(), stored);
        auto copied = copy(manager);
        EXPECT_EQ(copied->baseURL(), stored);
        EXPECT_NE(copied->requestSerializer(), manager->requestSerializer());
        EXPECT_NE(copied->responseSerializer(), manager->responseSerializer());
    }
    // Each copies as its own class, and the serializers in it too.
    auto manager = this->make("http://h/api");
    manager->setResponseSerializer(XMLParserResponseSerializer::serializer());
    EXPECT_TRUE(std::dynamic_pointer_cast<XMLParserResponseSerializer>(copy(manager)->responseSerializer()));
    if constexpr (std::is_same_v<typename TestFixture::Manager, HTTPSessionManager>) {
        const std::shared_ptr<URLSessionManager> base = manager;
        auto viaBase = std::dynamic_pointer_cast<HTTPSessionManager>(base->copy());
        ASSERT_TRUE(viaBase);
        this->made.push_back(viaBase);
        EXPECT_EQ(viaBase->baseURL(), "http://h/api/");
        EXPECT_TRUE(std::dynamic_pointer_cast<XMLParserResponseSerializer>(viaBase->responseSerializer()));
    }
}

TYPED_TEST(HTTPManagers, AMultipartPostIsSentByteForByteAndAgainAfterA307OnlyWhenItCanBeReadAgain)
{
    support::RawHTTPRecorder wire;
    wire.redirect("/moved", "/moved-here", 307);
    wire.redirect("/spent", "/spent-here", 307);
    const std::string boundary = "Boundary+0000000A0000000B";
    const std::string binary("\0\1\2\r\n--\377", 8);
    const std::string expected = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"note\"\r\n\r\nhello\r\n--" + boundary +
                                 "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"f.bin\"\r\n"
                                 "Content-Type: application/x-raw\r\n\r\n" + binary + "\r\n--" + boundary + "--\r\n";
    for (const std::string path : {"/upload", "/moved", "/spent"}) {
        SCOPED_TRACE(path);
        const bool spent = path == "/spent", followed = path == "/moved";
        typename TestFixture::Call call{this->loop};
        ASSERT_TRUE(this->make(std::nullopt)->POST(
            wire.url(path), ParameterDictionary{{"note", "hello"}},
            [&](MultipartFormData& form) {
                // A part read from a stream of its own cannot be sent twice.
                if (spent)
                    form.appendPartWithInputStream(std::make_shared<DataInputStream>(Bytes(binary.begin(), binary.end())), "file",
                                                   "f.bin", 8, "application/x-raw");
                else
                    form.appendPartWithFileData(Bytes(binary.begin(), binary.end()), "file", "f.bin", "application/x-raw");
            },
            call.success(), call.failure()));
        ASSERT_TRUE(call.wait());
        EXPECT_EQ(call.outcome->successes, spent ? 0 : 1);
        EXPECT_EQ(call.outcome->error ? call.outcome->error->code : 0, spent ? std::int64_t{URLRequestSerializationErrorIncompleteBody} : 0);
        EXPECT_EQ(wire.requests(path + "-here").size(), followed ? 1u : 0u);
        for (const auto& seen : {wire.requests(path).at(0), wire.requests(followed ? path + "-here" : path).at(0)}) {
            EXPECT_EQ(seen.method, "POST");
            EXPECT_NE(seen.head.find("\r\nContent-Type: multipart/form-data; boundary=" + boundary + "\r\n"), std::string::npos);
            EXPECT_NE(seen.head.find("\r\nContent-Length: " + std::to_string(expected.size()) + "\r\n"), std::string::npos);
            EXPECT_EQ(seen.body, expected);
        }
    }
}
