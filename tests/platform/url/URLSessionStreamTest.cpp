#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "platform/dispatch/Dispatch.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/notifications/NotificationCenter.h"
#include "platform/url/DataInputStream.h"
#include "platform/url/URLError.h"
#include "platform/url/URLSession.h"
#include "support/server/LoopbackServer.h"

using namespace platform;
using support::LoopbackServer;

namespace {

// Gives a password once and, when asked for the body again, a copy of the task's stream or nothing.
class StreamDelegate final : public URLSessionDelegate {
public:
    bool renew = true;
    int renewals = 0;

    void taskDidReceiveChallenge(URLSession&, URLSessionTask&, AuthenticationChallenge& challenge,
                                 URLSessionChallengeCompletion completion) override
    {
        if (challenge.previousFailureCount() > 0) return completion(URLSessionAuthChallengeDisposition::PerformDefaultHandling, std::nullopt);
        completion(URLSessionAuthChallengeDisposition::UseCredential, URLCredential::credentialWithUser("ann", "pw"));
    }
    void needNewBodyStream(URLSession&, URLSessionTask& task, std::function<void(std::shared_ptr<InputStream>)> completion) override
    {
        ++renewals;
        completion(renew ? task.originalRequest().httpBodyStream->copyInputStream() : nullptr);
    }
    void didCompleteWithError(URLSession&, URLSessionTask&, const std::optional<Error>& failure) override
    {
        std::lock_guard lock(mutex);
        error = failure;
        done = true;
        changed.notify_all();
    }
    std::optional<Error> wait()
    {
        std::unique_lock lock(mutex);
        EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return done; }));
        return error;
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    std::optional<Error> error;
};

}  // namespace

TEST(URLSessionStream, AStreamedBodyIsSentWholeAndAgainOnlyFromAFreshStream)
{
    const std::string body(70000, 'b');
    struct Case {
        std::string name;
        bool declaresLength;
        bool password;
        bool renew;
        int expectedRequests;
        std::optional<std::int64_t> errorCode;
    };
    const std::vector<Case> cases = {
        {"by length", true, false, true, 1, std::nullopt},
        {"in chunks", false, false, true, 1, std::nullopt},
        {"password retry renewed", true, true, true, 2, std::nullopt},
        {"password retry in chunks renewed", false, true, true, 2, std::nullopt},
        {"password retry not renewed", true, true, false, 1, URLErrorRequestBodyStreamExhausted},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunLoop loop;
        Dispatch dispatch{loop};
        NotificationCenter center;
        LoopbackServer server;
        if (c.password)
            server.requireBasicAuthentication("/up", "ann", "pw", LoopbackServer::Reply{200, "text/plain", "ok", {}, 0});
        else
            server.serve("/up", "ok", "text/plain");
        auto delegate = std::make_shared<StreamDelegate>();
        delegate->renew = c.renew;
        auto session = URLSession::sessionWithConfiguration({}, delegate, dispatch.makeSerial("stream-test"), center);
        URLRequest request(server.url("/up"), 5);
        request.httpMethod = "PUT";
        request.httpBodyStream = std::make_shared<DataInputStream>(Bytes(body.begin(), body.end()));
        if (c.declaresLength) request.setValue(std::to_string(body.size()), "Content-Length");
        auto task = session->uploadTaskWithStreamedRequest(request);
        ASSERT_TRUE(task);
        EXPECT_EQ(task->countOfBytesExpectedToSend(), c.declaresLength ? static_cast<std::int64_t>(body.size()) : -1);
        task->resume();
        const std::optional<Error> error = delegate->wait();
        EXPECT_EQ(error.has_value(), c.errorCode.has_value());
        EXPECT_EQ(error ? error->code : 0, c.errorCode.value_or(0));
        const auto seen = server.requests("/up");
        ASSERT_EQ(static_cast<int>(seen.size()), c.expectedRequests);
        EXPECT_EQ(delegate->renewals, c.password ? 1 : 0);
        EXPECT_EQ(seen.back().header("Transfer-Encoding"), c.declaresLength ? "" : "chunked");
        EXPECT_EQ(seen.back().body, error ? seen.back().body : body);
        session->invalidateAndCancel();
    }
    URLRequest bodiless("http://127.0.0.1:1/");
    auto delegate = std::make_shared<StreamDelegate>();
    RunLoop loop;
    Dispatch dispatch{loop};
    NotificationCenter center;
    auto session = URLSession::sessionWithConfiguration({}, delegate, dispatch.makeSerial("stream-test"), center);
    EXPECT_FALSE(session->uploadTaskWithStreamedRequest(bodiless));
    session->invalidateAndCancel();
}
