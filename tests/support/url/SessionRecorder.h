#pragma once

#include <gtest/gtest.h>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/url/InputStream.h"
#include "platform/url/URLError.h"
#include "platform/url/URLSession.h"
#include "support/Locked.h"
#include "support/server/LoopbackServer.h"

// A session delegate that records what it hears and answers as the test tells it, and a session on a
// loopback server built around it.
namespace support::urlsession {

using namespace platform;
using support::LoopbackServer;

// Records what the session reports on its delegate queue and answers as the test tells it.
class Recorder final : public URLSessionDelegate, public support::Watched {
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
        note("task-challenge " + challenge.protectionSpace().authenticationMethod + " " + std::to_string(challenge.previousFailureCount()));
        if (challenge.protectionSpace().serverTrust) return answerTrust(challenge, completion);
        if (!password || (challenge.previousFailureCount() > 0 && !insistOnPassword)) return completion(authenticationAnswer, std::nullopt);
        completion(URLSessionAuthChallengeDisposition::UseCredential, URLCredential::credentialWithUser("ann", *password));
    }
    // Asked for a streamed body again: a copy of the task's stream, or nothing.
    void needNewBodyStream(URLSession&, URLSessionTask& task, std::function<void(std::shared_ptr<InputStream>)> completion) override
    {
        ++renewals;
        completion(renewBody ? task.originalRequest().httpBodyStream->copyInputStream() : nullptr);
    }
    void didSendBodyData(URLSession&, URLSessionTask&, std::int64_t, std::int64_t total, std::int64_t expected) override
    {
        locked([&] { sent = total, expectedToSend = expected; });
    }
    void didCompleteWithError(URLSession&, URLSessionTask&, const std::optional<Error>& failure) override
    {
        locked([&] { error = failure, ++completions, events.push_back("complete"); });
    }
    void didReceiveResponse(URLSession&, URLSessionTask&, const URLResponse& received,
                            std::function<void(URLSessionResponseDisposition)> completion) override
    {
        locked([&] { response = received, events.push_back("response " + std::to_string(received.statusCode)); });
        completion(URLSessionResponseDisposition::Allow);
    }
    void didReceiveData(URLSession&, URLSessionTask&, const Bytes& data) override { locked([&] { body.append(data.begin(), data.end()); }); }
    void didFinishDownloadingToURL(URLSession&, URLSessionTask&, const std::string& location) override
    {
        std::ifstream in(location, std::ios::binary);
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        locked([&] { downloaded = location, body = content, events.push_back("downloaded"); });
    }
    void didWriteData(URLSession&, URLSessionTask&, std::int64_t, std::int64_t total, std::int64_t expected) override
    {
        locked([&] { written = total, expectedToWrite = expected; });
    }
    void didResumeAtOffset(URLSession&, URLSessionTask&, std::int64_t offset, std::int64_t) override
    {
        note("resumed at " + std::to_string(offset));
    }

    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(60))
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
    // The events that begin with `prefix`, in order.
    std::vector<std::string> seen(const std::string& prefix)
    {
        std::lock_guard lock(mutex);
        std::vector<std::string> found;
        for (const auto& event : events)
            if (event.rfind(prefix, 0) == 0) found.push_back(event);
        return found;
    }

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
    // Gives the password again however often it was refused (as a careless delegate would).
    bool insistOnPassword = false;
    bool renewBody = true;
    std::atomic<int> renewals{0};

private:
    void note(std::string event) { locked([&] { events.push_back(std::move(event)); }); }
    void answerTrust(AuthenticationChallenge& challenge, const URLSessionChallengeCompletion& completion)
    {
        if (trustAnswer == URLSessionAuthChallengeDisposition::UseCredential)
            return completion(*trustAnswer, URLCredential::credentialForTrust(*challenge.protectionSpace().serverTrust));
        completion(trustAnswer.value_or(URLSessionAuthChallengeDisposition::PerformDefaultHandling), std::nullopt);
    }
};

inline bool eventually(const std::function<bool()>& done)
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
    // Ends the session and begins another, of the given configuration, with a fresh recorder.
    void restart(URLSessionConfiguration configuration = URLSessionConfiguration::defaultSessionConfiguration())
    {
        session->invalidateAndCancel();
        recorder = std::make_shared<Recorder>();
        session = makeSession(std::move(configuration));
    }
    // Runs the task until it completes, from a count of no completions.
    std::shared_ptr<URLSessionTask> run(std::shared_ptr<URLSessionTask> task)
    {
        recorder->completions = 0;
        task->resume();
        EXPECT_TRUE(recorder->waitForCompletion());
        return task;
    }
    // Generous: a TLS handshake under the thread sanitizer on a loaded machine can take seconds.
    URLRequest request(const std::string& path, const std::string& method = "GET", double timeout = 30.0)
    {
        URLRequest made(server.url(path), timeout);
        made.httpMethod = method;
        return made;
    }
};

}  // namespace support::urlsession
