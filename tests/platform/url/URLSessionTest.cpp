#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/url/URLError.h"
#include "platform/url/URLSession.h"
#include "support/server/LoopbackServer.h"

using namespace platform;
using support::LoopbackServer;

namespace {

// Records what the session reports on its delegate queue and answers as the test tells it.
class Recorder final : public URLSessionDelegate {
public:
    void didBecomeInvalidWithError(URLSession&, const std::optional<Error>&) override { note("invalid"); }
    bool handlesSessionChallenges() const override { return sessionLevel; }
    void didReceiveChallenge(URLSession&, AuthenticationChallenge& challenge, URLSessionChallengeCompletion completion) override
    {
        note("session-challenge");
        answerTrust(challenge, completion);
    }
    void willPerformHTTPRedirection(URLSession&, URLSessionTask&, const URLResponse& response, URLRequest request,
                                    std::function<void(std::optional<URLRequest>)> completion) override
    {
        note("redirect " + std::to_string(response.statusCode) + " " + request.httpMethod);
        completion(followRedirects ? std::optional<URLRequest>(request) : std::nullopt);
    }
    void taskDidReceiveChallenge(URLSession&, URLSessionTask&, AuthenticationChallenge& challenge,
                                 URLSessionChallengeCompletion completion) override
    {
        note("task-challenge " + challenge.protectionSpace().authenticationMethod + " " +
             std::to_string(challenge.previousFailureCount()));
        if (challenge.protectionSpace().serverTrust) return answerTrust(challenge, completion);
        if (!password || challenge.previousFailureCount() > 0)
            return completion(authenticationAnswer, std::nullopt);
        completion(URLSessionAuthChallengeDisposition::UseCredential, URLCredential::credentialWithUser("ann", *password));
    }
    void didSendBodyData(URLSession&, URLSessionTask&, std::int64_t, std::int64_t total, std::int64_t expected) override
    {
        std::lock_guard lock(mutex);
        sent = total;
        expectedToSend = expected;
    }
    void didCompleteWithError(URLSession&, URLSessionTask&, const std::optional<Error>& failure) override
    {
        std::lock_guard lock(mutex);
        error = failure;
        ++completions;
        events.push_back("complete");
        changed.notify_all();
    }
    void didReceiveResponse(URLSession&, URLSessionTask&, const URLResponse& received,
                            std::function<void(URLSessionResponseDisposition)> completion) override
    {
        {
            std::lock_guard lock(mutex);
            response = received;
        }
        note("response " + std::to_string(received.statusCode));
        completion(URLSessionResponseDisposition::Allow);
    }
    void didReceiveData(URLSession&, URLSessionTask&, const Bytes& data) override
    {
        std::lock_guard lock(mutex);
        body.append(data.begin(), data.end());
    }
    void didFinishDownloadingToURL(URLSession&, URLSessionTask&, const std::string& location) override
    {
        std::ifstream in(location, std::ios::binary);
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::lock_guard lock(mutex);
        downloaded = location;
        body = content;
        events.push_back("downloaded");
    }
    void didWriteData(URLSession&, URLSessionTask&, std::int64_t, std::int64_t total, std::int64_t expected) override
    {
        std::lock_guard lock(mutex);
        written = total;
        expectedToWrite = expected;
    }
    void didResumeAtOffset(URLSession&, URLSessionTask&, std::int64_t offset, std::int64_t) override
    {
        note("resumed at " + std::to_string(offset));
    }

    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, done);
    }
    bool waitForCompletion() { return waitFor([&] { return completions > 0; }); }
    bool saw(const std::string& event)
    {
        std::lock_guard lock(mutex);
        return std::find(events.begin(), events.end(), event) != events.end();
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> events;
    std::optional<URLResponse> response;
    std::string body;
    std::optional<Error> error;
    int completions = 0;
    std::string downloaded;
    std::int64_t written = 0, expectedToWrite = 0, sent = 0, expectedToSend = 0;

    bool followRedirects = true;
    bool sessionLevel = false;
    std::optional<URLSessionAuthChallengeDisposition> trustAnswer;
    std::optional<std::string> password;
    URLSessionAuthChallengeDisposition authenticationAnswer = URLSessionAuthChallengeDisposition::PerformDefaultHandling;

private:
    void note(std::string event)
    {
        std::lock_guard lock(mutex);
        events.push_back(std::move(event));
        changed.notify_all();
    }
    void answerTrust(AuthenticationChallenge& challenge, const URLSessionChallengeCompletion& completion)
    {
        if (trustAnswer == URLSessionAuthChallengeDisposition::UseCredential)
            return completion(*trustAnswer, URLCredential::credentialForTrust(*challenge.protectionSpace().serverTrust));
        completion(trustAnswer.value_or(URLSessionAuthChallengeDisposition::PerformDefaultHandling), std::nullopt);
    }
};

bool eventually(const std::function<bool()>& done)
{
    for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

struct SessionFixture : ::testing::Test {
    RunLoop loop;
    Dispatch dispatch{loop};
    NotificationCenter center;
    LoopbackServer server;
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<URLSession> session;

    void SetUp() override { session = makeSession(URLSessionConfiguration::defaultSessionConfiguration()); }
    void TearDown() override
    {
        session->invalidateAndCancel();
        recorder->waitFor([&] { return std::find(recorder->events.begin(), recorder->events.end(), "invalid") != recorder->events.end(); });
    }
    std::shared_ptr<URLSession> makeSession(URLSessionConfiguration configuration)
    {
        return URLSession::sessionWithConfiguration(std::move(configuration), recorder, dispatch.makeSerial("test.delegate"), center);
    }
    std::shared_ptr<URLSessionTask> run(std::shared_ptr<URLSessionTask> task)
    {
        task->resume();
        EXPECT_TRUE(recorder->waitForCompletion());
        return task;
    }
    URLRequest request(const std::string& path, const std::string& method = "GET", double timeout = 5.0)
    {
        URLRequest made(server.url(path), timeout);
        made.httpMethod = method;
        return made;
    }
};

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
        run(session->dataTaskWithRequest(URLRequest(secure.url("/s"), 5.0)));
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
