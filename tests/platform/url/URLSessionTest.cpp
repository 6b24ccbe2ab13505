#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/url/DataInputStream.h"
#include "support/url/SessionRecorder.h"
#include "ChallengeReplies.h"

using namespace support::urlsession;
using namespace challengereplies;

namespace {

using Events = std::vector<std::string>;

TEST_F(SessionFixture, DataTaskCollectsAPlainOrChunkedBodyAndCookiesAreSentBackWithinTheSessionOnly)
{
    server.serve("/plain", LoopbackServer::Reply{200, "text/plain; charset=utf-8", std::string(70000, 'p'), {}, 0});
    server.serve("/chunked", LoopbackServer::Reply{200, "text/plain", std::string(50000, 'c'), {}, 4000});
    for (const std::string path : {"/plain", "/chunked"}) {
        restart();
        auto task = session->dataTaskWithRequest(request(path));
        EXPECT_EQ(task->state(), URLSessionTaskState::Suspended);
        run(task);
        EXPECT_FALSE(recorder->error) << path;
        EXPECT_EQ(recorder->body, std::string(path == "/plain" ? 70000 : 50000, path[1]));
        EXPECT_EQ(task->state(), URLSessionTaskState::Completed);
        EXPECT_EQ(task->countOfBytesReceived(), static_cast<std::int64_t>(recorder->body.size()));
        EXPECT_EQ(task->response()->statusCode, 200);
        EXPECT_EQ(recorder->completions, 1);
    }
    server.serve("/login", LoopbackServer::Reply{200, "text/plain", "hi", {{"Set-Cookie", "who=ann; Path=/"}}, 0});
    server.serve("/me", "me");
    run(session->dataTaskWithRequest(request("/login")));
    run(session->dataTaskWithRequest(request("/me")));
    EXPECT_EQ(server.lastHeader("/me", "Cookie"), "who=ann");
    auto other = makeSession(URLSessionConfiguration::defaultSessionConfiguration());
    run(other->dataTaskWithRequest(request("/me")));
    EXPECT_EQ(server.lastHeader("/me", "Cookie"), "");
    other->invalidateAndCancel();
}

TEST_F(SessionFixture, UploadsSendTheirBodyFromDataOrFileByteForByte)
{
    server.serve("/up", "stored");
    const std::string payload = "head\r\n" + std::string(300000, 'u') + "\r\ntail";
    const std::string file = (std::filesystem::temp_directory_path() / ("rig-upload-" + std::to_string(getpid()))).string();
    std::ofstream(file, std::ios::binary) << payload;
    const Bytes bytes(payload.begin(), payload.end());
    for (int source : {0, 1, 2}) {
        const bool fromFile = source == 1;
        recorder->body.clear();
        URLRequest withBody = request("/up", "POST");
        withBody.httpBody = bytes;
        run(source == 2 ? session->dataTaskWithRequest(withBody)
            : fromFile  ? session->uploadTaskWithRequestFromFile(request("/up", "PUT"), file)
                        : session->uploadTaskWithRequestFromData(request("/up", "POST"), bytes));
        ASSERT_FALSE(recorder->error);
        const auto received = server.requests("/up").back();
        EXPECT_EQ(received.method, fromFile ? "PUT" : "POST");
        EXPECT_TRUE(received.body == payload) << source;
        EXPECT_EQ(received.header("Content-Type"), "");
        EXPECT_EQ(recorder->sent, static_cast<std::int64_t>(payload.size()));
        EXPECT_EQ(recorder->expectedToSend, static_cast<std::int64_t>(payload.size()));
        EXPECT_EQ(recorder->body, "stored");
    }
    std::filesystem::remove(file);
    run(session->uploadTaskWithRequestFromFile(request("/up", "PUT"), file));
    ASSERT_TRUE(recorder->error);
    EXPECT_EQ(server.requests("/up").size(), 3u);
}

// A streamed body is sent whole, with its declared length or chunked, and sent again (after a password
// challenge) only from a fresh stream the delegate gives; without one the task fails.
TEST_F(SessionFixture, AStreamedBodyIsSentWholeAndAgainOnlyFromAFreshStream)
{
    const std::string body(70000, 'b');
    const struct { bool declaresLength, password, renew; std::int64_t errorCode; } cases[] = {
        {true, false, true, 0}, {false, false, true, 0}, {false, true, true, 0}, {true, true, false, URLErrorRequestBodyStreamExhausted}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.declaresLength << c.password << c.renew);
        const std::string path = "/up" + std::to_string(&c - cases);
        if (c.password) server.requireBasicAuthentication(path, "ann", "pw", LoopbackServer::Reply{200, "text/plain", "ok", {}, 0});
        else server.serve(path, "ok");
        restart();
        recorder->password = "pw";
        recorder->renewBody = c.renew;
        URLRequest streamed = request(path, "PUT", 5);
        streamed.httpBodyStream = std::make_shared<DataInputStream>(Bytes(body.begin(), body.end()));
        if (c.declaresLength) streamed.setValue(std::to_string(body.size()), "Content-Length");
        EXPECT_FALSE(session->uploadTaskWithStreamedRequest(request(path)));
        auto task = session->uploadTaskWithStreamedRequest(streamed);
        EXPECT_EQ(task->countOfBytesExpectedToSend(), c.declaresLength ? static_cast<std::int64_t>(body.size()) : -1);
        run(task);
        EXPECT_EQ(recorder->error ? recorder->error->code : 0, c.errorCode);
        const auto seen = server.requests(path);
        EXPECT_EQ(seen.size(), c.password && c.renew ? 2u : 1u);
        EXPECT_EQ(recorder->renewals.load(), c.password ? 1 : 0);
        EXPECT_EQ(seen.back().header("Transfer-Encoding"), c.declaresLength ? "" : "chunked");
        EXPECT_TRUE(recorder->error || seen.back().body == body);
    }
}

// Redirects change the method as the status requires and carry the body only for 307 and 308 (and a
// 302 of another method than POST).
TEST_F(SessionFixture, RedirectsChangeMethodAsTheStatusRequiresAndCarryTheBodyOnlyFor307And308)
{
    const struct { int status; std::string method, expectedMethod; bool bodyKept; } cases[] = {
        {301, "POST", "GET", false}, {302, "POST", "GET", false}, {303, "PUT", "GET", false},
        {302, "PUT", "PUT", true},   {307, "POST", "POST", true}, {308, "PUT", "PUT", true}};
    server.serve("/target", "arrived");
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.status << c.method);
        restart();
        server.redirect("/from", "/target", c.status);
        const std::size_t before = server.requests("/target").size();
        run(session->uploadTaskWithRequestFromData(request("/from", c.method), Bytes{'b', 'o', 'd', 'y'}));
        ASSERT_EQ(server.requests("/target").size(), before + 1);
        const auto arrived = server.requests("/target").back();
        EXPECT_EQ(arrived.method, c.expectedMethod);
        EXPECT_EQ(arrived.body, c.bodyKept ? "body" : "");
        EXPECT_TRUE(recorder->saw("redirect " + std::to_string(c.status) + " " + c.expectedMethod));
        EXPECT_EQ(recorder->body, "arrived");
    }
    // A declined redirect is the answer; too many hops fail.
    restart();
    recorder->followRedirects = false;
    server.redirect("/a", "/b");
    run(session->dataTaskWithRequest(request("/a")));
    EXPECT_FALSE(recorder->error);
    EXPECT_EQ(recorder->response->statusCode, 302);
    EXPECT_EQ(recorder->body, "moved");
    EXPECT_EQ(server.hits("/b"), 0);
    recorder->followRedirects = true;
    server.redirect("/loop", "/loop");
    run(session->dataTaskWithRequest(request("/loop")));
    ASSERT_TRUE(recorder->error);
    EXPECT_EQ(recorder->error->code, URLErrorHTTPTooManyRedirects);
    EXPECT_EQ(server.hits("/loop"), 17);
}

// Resume and suspend post only when the running state changes; a suspended task waits, and a cancelled one
// ends cancelled, once.
TEST_F(SessionFixture, ASuspendedTaskWaitsAndACancelledOneEndsCancelledOnce)
{
    Events posted;
    center.addObserver("", nullptr, [&](const Notification& n) {
        if (n.name == HookedURLSessionTaskDidResumeNotification) posted.push_back("resume");
        if (n.name == HookedURLSessionTaskDidSuspendNotification) posted.push_back("suspend");
    });
    server.serve("/x", "x");
    auto task = session->dataTaskWithRequest(request("/x"));
    for (const bool resume : {false, false, true, true, false, false, true}) resume ? task->resume() : task->suspend();
    EXPECT_EQ(posted, (Events{"resume", "suspend", "resume"}));
    ASSERT_TRUE(recorder->waitForCompletion());
    EXPECT_EQ(recorder->body, "x");

    recorder->completions = 0;
    recorder->body.clear();
    server.stall("/later");
    auto waiting = session->dataTaskWithRequest(request("/later"));
    waiting->resume();
    ASSERT_TRUE(eventually([&] { return server.hits("/later") == 1; }));
    waiting->suspend();
    server.release();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(recorder->completions, 0);
    EXPECT_EQ(recorder->body, "");
    waiting->resume();
    ASSERT_TRUE(recorder->waitForCompletion());
    EXPECT_EQ(recorder->body, "late");

    for (bool started : {false, true}) {
        recorder->completions = 0;
        auto cancelled = session->dataTaskWithRequest(request("/later"));
        if (started) cancelled->resume(), cancelled->suspend();
        cancelled->cancel();
        cancelled->cancel();
        cancelled->resume();
        ASSERT_TRUE(recorder->waitForCompletion());
        EXPECT_EQ(recorder->error->code, URLErrorCancelled);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(recorder->completions, 1);
        EXPECT_EQ(cancelled->state(), URLSessionTaskState::Completed);
    }
}

// A stalled answer times out, but a time-out too large for the clock (or infinite) lets the task run; a
// header field with a line break, the request's own or the session's, or a method that would end the
// request line early, fails the task before anything is sent.
TEST_F(SessionFixture, AHugeTimeOutRunsAndALineBreakInAFieldIsNeverSent)
{
    server.stall("/slow");
    run(session->dataTaskWithRequest(request("/slow", "GET", 0.3)));
    ASSERT_TRUE(recorder->error);
    EXPECT_EQ(recorder->error->code, URLErrorTimedOut);
    server.release();
    server.serve("/t", "arrived", "text/plain");
    for (const double seconds : {1e300, std::numeric_limits<double>::infinity(), std::nan(""), -1.0, 0.0}) {
        URLSessionConfiguration configuration = URLSessionConfiguration::defaultSessionConfiguration();
        configuration.timeoutIntervalForRequest = seconds;
        restart(configuration);
        for (const double asked : {seconds, 60.0}) {
            run(session->dataTaskWithRequest(request("/t", "GET", asked)));
            ASSERT_FALSE(recorder->error) << seconds << ": " << recorder->error->description;
            EXPECT_EQ(recorder->body, "arrived");
            recorder->body.clear();
        }
    }
    const int before = server.hits("/t");
    for (const int row : {0, 1, 2}) {
        URLSessionConfiguration configuration = URLSessionConfiguration::defaultSessionConfiguration();
        URLRequest asked = request("/t", row == 2 ? "PUT /t HTTP/1.1\r\nX-Injected: yes\r\nX-Rest:" : "GET");
        if (row < 2) (row == 0 ? asked.headerFields : configuration.HTTPAdditionalHeaders).emplace_back("X-Client", "rig\r\nX-Injected: yes");
        restart(configuration);
        run(session->dataTaskWithRequest(asked));
        ASSERT_TRUE(recorder->error) << row;
        EXPECT_TRUE(contains(recorder->error->description, row == 2 ? "not a single word" : "line break or NUL")) << recorder->error->description;
    }
    EXPECT_EQ(server.hits("/t"), before);
}

// A challenge is answered with the delegate's credential, or ends as the server answered, or cancelled; a
// password refused and given again and again is sent only so often, as a connection does. A session reads
// every challenge of every header and answers the first it can (Basic or Digest); a password goes only to
// the scheme, host and port that asked, and the place a redirect leads to is asked afresh; an expired
// Digest nonce is answered again without asking; and a 401 it cannot answer fails saying so, without asking.
TEST_F(SessionFixture, EveryChallengeIsReadAndAPasswordGoesOnlyWhereItWasAsked)
{
    server.requireBasicAuthentication("/private", "ann", "secret", kWelcome);
    server.serve("/b", "arrived", "text/plain");
    server.script("/a", {challenge({"Negotiate", "Basic realm=\"y\""}), redirectTo(server.url("/b", "localhost"))});
    server.script("/s", {challenge({R"(Digest realm="r", qop="auth", nonce="n1")"}),
                         challenge({R"(Digest realm="r", qop="auth", nonce="n2", stale=true)"}), kWelcome});
    server.script("/n", {challenge({"Negotiate abc==, NTLM"}), kWelcome});
    server.script("/r", {challenge({"Basic realm=\"y\""}), redirectTo(server.url("/q", "localhost"))});
    server.script("/q", {challenge({"Basic realm=\"z\""}), kWelcome});
    using D = URLSessionAuthChallengeDisposition;
    const std::string basic = "task-challenge HTTPBasic 0";
    const struct {
        const char* path;
        std::optional<std::string> password;
        D otherwise;
        bool insist;
        std::int64_t status, error;
        std::optional<Events> asked;  // unset: only the first is known
        int hits;                     // -1: not counted
    } cases[] = {
        {"/private", "secret", D::PerformDefaultHandling, false, 200, 0, std::nullopt, -1},
        {"/private", std::nullopt, D::PerformDefaultHandling, false, 401, 0, std::nullopt, -1},
        {"/private", "wrong", D::PerformDefaultHandling, false, 401, 0, std::nullopt, -1},
        {"/private", std::nullopt, D::CancelAuthenticationChallenge, false, 0, URLErrorCancelled, std::nullopt, -1},
        {"/private", "wrong", D::PerformDefaultHandling, true, 401, 0, std::nullopt, 1 + 16},
        {"/a", "secret", D::PerformDefaultHandling, false, 200, 0, Events{basic}, -1},
        {"/s", "secret", D::PerformDefaultHandling, false, 200, 0, Events{"task-challenge HTTPDigest 0"}, 3},
        {"/n", "secret", D::PerformDefaultHandling, false, 0, URLErrorUserAuthenticationRequired, Events{}, 1},
        {"/r", "secret", D::PerformDefaultHandling, false, 200, 0, Events{basic, basic}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        restart();
        recorder->password = c.password;
        recorder->authenticationAnswer = c.otherwise;
        recorder->insistOnPassword = c.insist;
        const int before = server.hits(c.path);
        const bool upload = std::string(c.path) == "/private";
        run(upload ? session->uploadTaskWithRequestFromData(request(c.path, "POST"), Bytes{'p'}) : session->dataTaskWithRequest(request(c.path)));
        const Events asked = recorder->seen("task-challenge");
        if (c.asked) EXPECT_EQ(asked, *c.asked);
        else EXPECT_EQ(asked.empty() ? "" : asked.front(), basic);
        if (c.hits >= 0) { EXPECT_EQ(server.hits(c.path) - before, c.hits); }
        if (upload) { EXPECT_EQ(server.requests(c.path).back().body, "p"); }
        if (c.error) {
            ASSERT_TRUE(recorder->error);
            EXPECT_EQ(recorder->error->code, c.error);
            EXPECT_TRUE(c.error != URLErrorUserAuthenticationRequired || contains(recorder->error->description, "(Negotiate, NTLM)"))
                << recorder->error->description;
            continue;
        }
        ASSERT_FALSE(recorder->error);
        EXPECT_EQ(recorder->response->statusCode, c.status);
        if (upload) { EXPECT_EQ(recorder->body, c.status == 200 ? "welcome" : "who are you"); }
    }
    EXPECT_EQ(server.requests("/a").back().header("Authorization"), "Basic YW5uOnNlY3JldA==");
    EXPECT_EQ(server.requests("/b").back().header("Authorization"), "");
    ASSERT_EQ(server.requests("/s").size(), 3u);
    const std::string renewed = server.requests("/s")[2].header("Authorization");
    EXPECT_TRUE(contains(renewed, "nonce=\"n2\"") && contains(renewed, "nc=00000001")) << renewed;
    EXPECT_EQ(server.requests("/q").back().header("Authorization"), "Basic YW5uOnNlY3JldA==");
}

// A download leaves its body in a temporary file only for the delegate call; one cut short carries resume
// data that continues where it stopped.
TEST_F(SessionFixture, ADownloadLeavesItsFileOnlyForTheDelegateAndACutOneResumesWhereItStopped)
{
    server.serve("/file.bin", std::string(200000, 'd'));
    run(session->downloadTaskWithRequest(request("/file.bin")));
    ASSERT_FALSE(recorder->error);
    EXPECT_EQ(recorder->body, std::string(200000, 'd'));
    EXPECT_EQ(std::pair(recorder->written, recorder->expectedToWrite), std::pair(std::int64_t{200000}, std::int64_t{200000}));
    EXPECT_EQ(std::filesystem::path(recorder->downloaded).parent_path().string(), session->downloadFolder());
    EXPECT_FALSE(std::filesystem::exists(recorder->downloaded));
    EXPECT_EQ(recorder->events.back(), "complete");

    const std::string whole = std::string(40000, 'a') + std::string(40000, 'b');
    server.truncate("/big", whole.substr(0, 40000), whole.size());
    run(session->downloadTaskWithRequest(request("/big")));
    ASSERT_TRUE(recorder->error);
    const std::string resume = recorder->error->info(URLSessionDownloadTaskResumeData);
    ASSERT_FALSE(resume.empty());

    server.serve("/big", whole);
    auto task = session->downloadTaskWithResumeData(Bytes(resume.begin(), resume.end()));
    ASSERT_TRUE(task);
    run(task);
    ASSERT_FALSE(recorder->error) << recorder->error->describe();
    EXPECT_TRUE(recorder->saw("resumed at 40000"));
    EXPECT_EQ(server.lastHeader("/big", "Range"), "bytes=40000-");
    EXPECT_EQ(task->response()->statusCode, 206);
    EXPECT_TRUE(recorder->body == whole) << recorder->body.size();
    EXPECT_EQ(session->downloadTaskWithResumeData(Bytes{'x'}), nullptr);
}

TEST_F(SessionFixture, TaskListsComeFromTheRegistryAndInvalidationCancelsWhatRuns)
{
    server.stall("/hold");
    auto data = session->dataTaskWithRequest(request("/hold"));
    auto upload = session->uploadTaskWithRequestFromData(request("/hold", "POST"), Bytes{'1'});
    auto download = session->downloadTaskWithRequest(request("/hold"));
    const auto lists = session->getTasks();
    using Tasks = std::vector<std::shared_ptr<URLSessionTask>>;
    EXPECT_EQ(lists.dataTasks, Tasks{data});
    EXPECT_EQ(lists.uploadTasks, Tasks{upload});
    EXPECT_EQ(lists.downloadTasks, Tasks{download});
    data->resume();
    download->resume();
    session->invalidateAndCancel();
    EXPECT_EQ(session->dataTaskWithRequest(request("/hold")), nullptr);
    ASSERT_TRUE(recorder->waitFor([&] { return recorder->completions == 3 && !recorder->events.empty() && recorder->events.back() == "invalid"; }));
    EXPECT_EQ(recorder->error->code, URLErrorCancelled);
    EXPECT_TRUE(session->getTasks().dataTasks.empty());
    server.release();
}

struct TrustFixture : SessionFixture {
    support::TestIdentity authority = support::TestCertificates::makeAuthority("Loopback Root");
    LoopbackServer secure{support::TestCertificates::makeServer(authority, "localhost", {"IP:127.0.0.1"})};
};

TEST_F(TrustFixture, AnUntrustedServerFailsUnlessTheSessionOrTaskLevelAnswerAcceptsIt)
{
    secure.serve("/s", "secret");
    using D = URLSessionAuthChallengeDisposition;
    const struct { bool sessionLevel; std::optional<D> answer; std::optional<std::int64_t> error; } cases[] = {
        {true, std::nullopt, URLErrorServerCertificateUntrusted}, {false, std::nullopt, URLErrorServerCertificateUntrusted},
        {true, D::UseCredential, std::nullopt},                    {false, D::UseCredential, std::nullopt},
        {true, D::CancelAuthenticationChallenge, URLErrorCancelled},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        restart();
        recorder->sessionLevel = c.sessionLevel;
        recorder->trustAnswer = c.answer;
        run(session->dataTaskWithRequest(URLRequest(secure.url("/s"), 30.0)));
        EXPECT_TRUE(recorder->saw(c.sessionLevel ? "session-challenge" : "task-challenge ServerTrust 0"));
        EXPECT_EQ(recorder->error ? std::optional(recorder->error->code) : std::nullopt, c.error);
        EXPECT_EQ(recorder->body, c.error ? "" : "secret");
    }
}

}  // namespace
