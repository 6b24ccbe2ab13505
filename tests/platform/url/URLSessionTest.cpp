#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/url/SessionRecorder.h"

using namespace support::urlsession;

namespace {

TEST_F(SessionFixture, DataTaskCollectsAPlainOrChunkedBodyAndEndsCompleted)
{
    server.serve("/plain", LoopbackServer::Reply{200, "text/plain; charset=utf-8", std::string(70000, 'p'), {}, 0});
    server.serve("/chunked", LoopbackServer::Reply{200, "text/plain", std::string(50000, 'c'), {}, 4000});
    for (const std::string path : {"/plain", "/chunked"}) {
        recorder = std::make_shared<Recorder>();
        session = makeSession(URLSessionConfiguration::defaultSessionConfiguration());
        auto task = session->dataTaskWithRequest(request(path));
        EXPECT_EQ(task->state(), URLSessionTaskState::Suspended);
        run(task);
        EXPECT_FALSE(recorder->error) << path;
        EXPECT_EQ(recorder->body, std::string(path == "/plain" ? 70000 : 50000, path[1]));
        EXPECT_EQ(task->state(), URLSessionTaskState::Completed);
        EXPECT_EQ(task->countOfBytesReceived(), static_cast<std::int64_t>(recorder->body.size()));
        EXPECT_EQ(task->response()->statusCode, 200);
        EXPECT_EQ(recorder->completions, 1);
        session->invalidateAndCancel();
    }
}

TEST_F(SessionFixture, UploadsSendTheirBodyFromDataOrFileByteForByte)
{
    server.serve("/up", "stored");
    const std::string payload = "head\r\n" + std::string(300000, 'u') + "\r\ntail";
    const std::string file = (std::filesystem::temp_directory_path() / ("rig-upload-" + std::to_string(getpid()))).string();
    std::ofstream(file, std::ios::binary) << payload;
    for (int source : {0, 1, 2}) {
        const bool fromFile = source == 1;
        recorder->completions = 0;
        recorder->body.clear();
        URLRequest withBody = request("/up", "POST");
        withBody.httpBody = Bytes(payload.begin(), payload.end());
        auto task = source == 2 ? session->dataTaskWithRequest(withBody)
                    : fromFile  ? session->uploadTaskWithRequestFromFile(request("/up", "PUT"), file)
                                : session->uploadTaskWithRequestFromData(request("/up", "POST"), Bytes(payload.begin(), payload.end()));
        run(task);
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
    recorder->completions = 0;
    run(session->uploadTaskWithRequestFromFile(request("/up", "PUT"), file));
    ASSERT_TRUE(recorder->error);
    EXPECT_EQ(server.requests("/up").size(), 3u);
}

TEST_F(SessionFixture, DownloadLeavesTheBodyInATemporaryFileOnlyForTheDelegateCall)
{
    server.serve("/file.bin", std::string(200000, 'd'));
    auto task = run(session->downloadTaskWithRequest(request("/file.bin")));
    ASSERT_FALSE(recorder->error);
    EXPECT_EQ(recorder->body, std::string(200000, 'd'));
    EXPECT_EQ(recorder->written, 200000);
    EXPECT_EQ(recorder->expectedToWrite, 200000);
    EXPECT_EQ(std::filesystem::path(recorder->downloaded).parent_path().string(), session->downloadFolder());
    EXPECT_FALSE(std::filesystem::exists(recorder->downloaded));
    EXPECT_EQ(recorder->events.back(), "complete");
}

TEST_F(SessionFixture, RedirectsChangeMethodAsTheStatusRequiresAndCarryTheBodyOnlyFor307And308)
{
    struct Case {
        int status;
        std::string method, expectedMethod;
        bool bodyKept;
    };
    const std::vector<Case> cases = {{301, "POST", "GET", false}, {302, "POST", "GET", false}, {303, "PUT", "GET", false},
                                     {302, "PUT", "PUT", true},   {307, "POST", "POST", true}, {308, "PUT", "PUT", true}};
    server.serve("/target", "arrived");
    for (const auto& c : cases) {
        recorder = std::make_shared<Recorder>();
        session = makeSession(URLSessionConfiguration::defaultSessionConfiguration());
        server.redirect("/from", "/target", c.status);
        const std::size_t before = server.requests("/target").size();
        run(session->uploadTaskWithRequestFromData(request("/from", c.method), Bytes{'b', 'o', 'd', 'y'}));
        ASSERT_EQ(server.requests("/target").size(), before + 1) << c.status;
        const auto arrived = server.requests("/target").back();
        EXPECT_EQ(arrived.method, c.expectedMethod) << c.status << c.method;
        EXPECT_EQ(arrived.body, c.bodyKept ? "body" : "") << c.status << c.method;
        EXPECT_TRUE(recorder->saw("redirect " + std::to_string(c.status) + " " + c.expectedMethod));
        EXPECT_EQ(recorder->body, "arrived");
        session->invalidateAndCancel();
    }
}

TEST_F(SessionFixture, ADeclinedRedirectIsTheAnswerAndTooManyHopsFail)
{
    server.redirect("/a", "/b");
    server.serve("/b", "b");
    recorder->followRedirects = false;
    run(session->dataTaskWithRequest(request("/a")));
    EXPECT_FALSE(recorder->error);
    EXPECT_EQ(recorder->response->statusCode, 302);
    EXPECT_EQ(recorder->body, "moved");
    EXPECT_EQ(server.hits("/b"), 0);

    recorder->followRedirects = true;
    recorder->completions = 0;
    server.redirect("/loop", "/loop");
    run(session->dataTaskWithRequest(request("/loop")));
    ASSERT_TRUE(recorder->error);
    EXPECT_EQ(recorder->error->code, URLErrorHTTPTooManyRedirects);
    EXPECT_EQ(server.hits("/loop"), 17);
}

TEST_F(SessionFixture, ResumeAndSuspendPostOnlyWhenTheRunningStateChanges)
{
    std::vector<std::string> posted;
    center.addObserver("", nullptr, [&](const Notification& n) {
        if (n.name == HookedURLSessionTaskDidResumeNotification) posted.push_back("resume");
        if (n.name == HookedURLSessionTaskDidSuspendNotification) posted.push_back("suspend");
    });
    server.serve("/x", "x");
    auto task = session->dataTaskWithRequest(request("/x"));
    task->suspend();
    task->suspend();
    task->resume();
    task->resume();
    task->suspend();
    task->suspend();
    task->resume();
    EXPECT_EQ(posted, (std::vector<std::string>{"resume", "suspend", "resume"}));
    ASSERT_TRUE(recorder->waitForCompletion());
    EXPECT_EQ(recorder->body, "x");
}

TEST_F(SessionFixture, ASuspendedTaskWaitsAndACancelledOneEndsCancelledOnce)
{
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
        if (started) {
            cancelled->resume();
            cancelled->suspend();
        }
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

TEST_F(SessionFixture, AStalledAnswerTimesOut)
{
    server.stall("/slow");
    run(session->dataTaskWithRequest(request("/slow", "GET", 0.3)));
    ASSERT_TRUE(recorder->error);
    EXPECT_EQ(recorder->error->code, URLErrorTimedOut);
    server.release();
}

// A time-out too large for the clock (or infinite) lets the task run; a header field with a line break,
// the request's own or the session's, fails the task before anything is sent.
TEST_F(SessionFixture, AHugeTimeOutRunsAndALineBreakInAFieldIsNeverSent)
{
    server.serve("/t", "arrived", "text/plain");
    for (const double seconds : {1e300, std::numeric_limits<double>::infinity(), std::nan(""), -1.0, 0.0}) {
        recorder = std::make_shared<Recorder>();
        URLSessionConfiguration configuration = URLSessionConfiguration::defaultSessionConfiguration();
        configuration.timeoutIntervalForRequest = seconds;
        session = makeSession(configuration);
        run(session->dataTaskWithRequest(request("/t", "GET", seconds)));
        ASSERT_FALSE(recorder->error) << seconds << ": " << recorder->error->description;
        EXPECT_EQ(recorder->body, "arrived");
        recorder->completions = 0;
        run(session->dataTaskWithRequest(request("/t", "GET", 60.0)));
        ASSERT_FALSE(recorder->error) << seconds << ": " << recorder->error->description;
        session->invalidateAndCancel();
    }

    const int before = server.hits("/t");
    for (const bool own : {true, false}) {
        recorder = std::make_shared<Recorder>();
        URLSessionConfiguration configuration = URLSessionConfiguration::defaultSessionConfiguration();
        URLRequest asked = request("/t");
        (own ? asked.headerFields : configuration.HTTPAdditionalHeaders).emplace_back("X-Client", "rig\r\nX-Injected: yes");
        session = makeSession(configuration);
        run(session->dataTaskWithRequest(asked));
        ASSERT_TRUE(recorder->error) << own;
        EXPECT_NE(recorder->error->description.find("line break or NUL"), std::string::npos) << recorder->error->description;
        session->invalidateAndCancel();
    }
    // Nor a method that would end the request line early.
    recorder = std::make_shared<Recorder>();
    session = makeSession(URLSessionConfiguration::defaultSessionConfiguration());
    run(session->dataTaskWithRequest(request("/t", "PUT /t HTTP/1.1\r\nX-Injected: yes\r\nX-Rest:")));
    ASSERT_TRUE(recorder->error);
    EXPECT_NE(recorder->error->description.find("not a single word"), std::string::npos) << recorder->error->description;
    session->invalidateAndCancel();
    EXPECT_EQ(server.hits("/t"), before);
}

TEST_F(SessionFixture, AnHTTPChallengeIsAnsweredWithACredentialOrEndsAsTheServerAnswered)
{
    server.requireBasicAuthentication("/private", "ann", "secret", LoopbackServer::Reply{200, "text/plain", "welcome", {}, 0});
    struct Case {
        std::optional<std::string> password;
        URLSessionAuthChallengeDisposition otherwise;
        std::int64_t status;
        std::optional<std::int64_t> error;
    };
    const std::vector<Case> cases = {
        {"secret", URLSessionAuthChallengeDisposition::PerformDefaultHandling, 200, std::nullopt},
        {std::nullopt, URLSessionAuthChallengeDisposition::PerformDefaultHandling, 401, std::nullopt},
        {"wrong", URLSessionAuthChallengeDisposition::PerformDefaultHandling, 401, std::nullopt},
        {std::nullopt, URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge, 0, URLErrorCancelled},
    };
    for (const auto& c : cases) {
        recorder = std::make_shared<Recorder>();
        recorder->password = c.password;
        recorder->authenticationAnswer = c.otherwise;
        session = makeSession(URLSessionConfiguration::defaultSessionConfiguration());
        run(session->uploadTaskWithRequestFromData(request("/private", "POST"), Bytes{'p'}));
        EXPECT_TRUE(recorder->saw("task-challenge HTTPBasic 0"));
        if (c.error) {
            ASSERT_TRUE(recorder->error);
            EXPECT_EQ(recorder->error->code, *c.error);
        } else {
            ASSERT_FALSE(recorder->error);
            EXPECT_EQ(recorder->response->statusCode, c.status);
            EXPECT_EQ(recorder->body, c.status == 200 ? "welcome" : "who are you");
        }
        EXPECT_EQ(server.requests("/private").back().body, "p");
        session->invalidateAndCancel();
    }
}

// A delegate that gives a refused password again and again is answered only so often: the 401 ends it,
// as it does a connection.
TEST_F(SessionFixture, ARefusedPasswordIsSentOnlySoOften)
{
    server.requireBasicAuthentication("/private", "ann", "secret", LoopbackServer::Reply{200, "text/plain", "welcome", {}, 0});
    recorder->password = "wrong";
    recorder->insistOnPassword = true;
    run(session->dataTaskWithRequest(request("/private")));
    ASSERT_FALSE(recorder->error);
    EXPECT_EQ(recorder->response->statusCode, 401);
    EXPECT_EQ(server.hits("/private"), 1 + 16);
}

// A session reads every challenge of every header and answers the first it can (Basic or Digest); a
// password goes only to the scheme, host and port that asked; an expired Digest nonce is answered again
// without asking; and a 401 it cannot answer fails saying so, without asking.
TEST_F(SessionFixture, EveryChallengeIsReadAndAPasswordGoesOnlyWhereItWasAsked)
{
    auto challenge = [](std::vector<std::string> offered) {
        LoopbackServer::Reply reply{401, "text/plain", "who are you", {}, 0};
        for (auto& value : offered) reply.headers.emplace_back("WWW-Authenticate", std::move(value));
        return reply;
    };
    const LoopbackServer::Reply welcome{200, "text/plain", "welcome", {}, 0};
    auto challengesAsked = [this] {
        std::lock_guard lock(recorder->mutex);
        std::vector<std::string> asked;
        for (const auto& event : recorder->events)
            if (event.rfind("task-challenge", 0) == 0) asked.push_back(event);
        return asked;
    };
    server.serve("/b", "arrived", "text/plain");
    server.script("/a", {challenge({"Negotiate", "Basic realm=\"y\""}),
                         LoopbackServer::Reply{302, "text/plain", "", {{"Location", server.url("/b", "localhost")}}, 0}});
    server.script("/s", {challenge({R"(Digest realm="r", qop="auth", nonce="n1")"}),
                         challenge({R"(Digest realm="r", qop="auth", nonce="n2", stale=true)"}), welcome});
    server.script("/n", {challenge({"Negotiate abc==, NTLM"}), welcome});

    recorder->password = "secret";
    run(session->dataTaskWithRequest(request("/a")));
    ASSERT_FALSE(recorder->error);
    EXPECT_EQ(challengesAsked(), std::vector<std::string>{"task-challenge HTTPBasic 0"});
    EXPECT_EQ(server.requests("/a").back().header("Authorization"), "Basic YW5uOnNlY3JldA==");
    EXPECT_EQ(server.requests("/b").back().header("Authorization"), "");

    session->invalidateAndCancel();
    recorder = std::make_shared<Recorder>();
    recorder->password = "secret";
    session = makeSession(URLSessionConfiguration::defaultSessionConfiguration());
    run(session->dataTaskWithRequest(request("/s")));
    ASSERT_FALSE(recorder->error);
    EXPECT_EQ(recorder->response->statusCode, 200);
    EXPECT_EQ(challengesAsked(), std::vector<std::string>{"task-challenge HTTPDigest 0"});
    ASSERT_EQ(server.requests("/s").size(), 3u);
    const std::string renewed = server.requests("/s")[2].header("Authorization");
    EXPECT_NE(renewed.find("nonce=\"n2\""), std::string::npos) << renewed;
    EXPECT_NE(renewed.find("nc=00000001"), std::string::npos) << renewed;

    session->invalidateAndCancel();
    recorder = std::make_shared<Recorder>();
    recorder->password = "secret";
    session = makeSession(URLSessionConfiguration::defaultSessionConfiguration());
    run(session->dataTaskWithRequest(request("/n")));
    ASSERT_TRUE(recorder->error);
    EXPECT_EQ(recorder->error->code, URLErrorUserAuthenticationRequired);
    EXPECT_NE(recorder->error->description.find("(Negotiate, NTLM)"), std::string::npos) << recorder->error->description;
    EXPECT_TRUE(challengesAsked().empty());
    EXPECT_EQ(server.hits("/n"), 1);

    // The place a redirect leads to never got the password: its 401 is a first challenge there.
    server.script("/r", {challenge({"Basic realm=\"y\""}),
                         LoopbackServer::Reply{302, "text/plain", "", {{"Location", server.url("/q", "localhost")}}, 0}});
    server.script("/q", {challenge({"Basic realm=\"z\""}), welcome});
    session->invalidateAndCancel();
    recorder = std::make_shared<Recorder>();
    recorder->password = "secret";
    session = makeSession(URLSessionConfiguration::defaultSessionConfiguration());
    run(session->dataTaskWithRequest(request("/r")));
    ASSERT_FALSE(recorder->error);
    EXPECT_EQ(recorder->response->statusCode, 200);
    EXPECT_EQ(challengesAsked(), (std::vector<std::string>{"task-challenge HTTPBasic 0", "task-challenge HTTPBasic 0"}));
    EXPECT_EQ(server.requests("/q").back().header("Authorization"), "Basic YW5uOnNlY3JldA==");
}

TEST_F(SessionFixture, CookiesAreSentBackWithinTheSessionOnly)
{
    server.serve("/login", LoopbackServer::Reply{200, "text/plain", "hi", {{"Set-Cookie", "who=ann; Path=/"}}, 0});
    server.serve("/me", "me");
    run(session->dataTaskWithRequest(request("/login")));
    recorder->completions = 0;
    run(session->dataTaskWithRequest(request("/me")));
    EXPECT_EQ(server.lastHeader("/me", "Cookie"), "who=ann");

    auto other = makeSession(URLSessionConfiguration::defaultSessionConfiguration());
    recorder->completions = 0;
    other->dataTaskWithRequest(request("/me"))->resume();
    ASSERT_TRUE(recorder->waitForCompletion());
    EXPECT_EQ(server.lastHeader("/me", "Cookie"), "");
    other->invalidateAndCancel();
}

TEST_F(SessionFixture, ACutDownloadCarriesResumeDataThatContinuesWhereItStopped)
{
    const std::string whole = std::string(40000, 'a') + std::string(40000, 'b');
    server.truncate("/big", whole.substr(0, 40000), whole.size());
    run(session->downloadTaskWithRequest(request("/big")));
    ASSERT_TRUE(recorder->error);
    const std::string resume = recorder->error->info(URLSessionDownloadTaskResumeData);
    ASSERT_FALSE(resume.empty());

    server.serve("/big", whole);
    recorder->completions = 0;
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
    EXPECT_EQ(lists.dataTasks, std::vector<std::shared_ptr<URLSessionTask>>{data});
    EXPECT_EQ(lists.uploadTasks, std::vector<std::shared_ptr<URLSessionTask>>{upload});
    EXPECT_EQ(lists.downloadTasks, std::vector<std::shared_ptr<URLSessionTask>>{download});
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
    support::TestIdentity identity = support::TestCertificates::makeServer(authority, "localhost", {"IP:127.0.0.1"});
    LoopbackServer secure{identity};
};

TEST_F(TrustFixture, AnUntrustedServerFailsUnlessTheSessionOrTaskLevelAnswerAcceptsIt)
{
    secure.serve("/s", "secret");
    struct Case {
        bool sessionLevel;
        std::optional<URLSessionAuthChallengeDisposition> answer;
        std::optional<std::int64_t> error;
    };
    const std::vector<Case> cases = {
        {true, std::nullopt, URLErrorServerCertificateUntrusted},
        {false, std::nullopt, URLErrorServerCertificateUntrusted},
        {true, URLSessionAuthChallengeDisposition::UseCredential, std::nullopt},
        {false, URLSessionAuthChallengeDisposition::UseCredential, std::nullopt},
        {true, URLSessionAuthChallengeDisposition::CancelAuthenticationChallenge, URLErrorCancelled},
    };
    for (const auto& c : cases) {
        recorder = std::make_shared<Recorder>();
        recorder->sessionLevel = c.sessionLevel;
        recorder->trustAnswer = c.answer;
        session = makeSession(URLSessionConfiguration::defaultSessionConfiguration());
        run(session->dataTaskWithRequest(URLRequest(secure.url("/s"), 30.0)));
        EXPECT_TRUE(recorder->saw(c.sessionLevel ? "session-challenge" : "task-challenge ServerTrust 0"));
        if (c.error) {
            ASSERT_TRUE(recorder->error);
            EXPECT_EQ(recorder->error->code, *c.error);
        } else {
            EXPECT_FALSE(recorder->error);
            EXPECT_EQ(recorder->body, "secret");
        }
        session->invalidateAndCancel();
    }
}

}  // namespace
