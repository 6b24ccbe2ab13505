#include <gtest/gtest.h>

#include <future>

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

// Gives a password once and, asked for the body again, a copy of the task's stream or nothing.
struct StreamDelegate final : URLSessionDelegate {
    bool renew = true;
    int renewals = 0;
    std::promise<std::optional<Error>> completed;

    void taskDidReceiveChallenge(URLSession&, URLSessionTask&, AuthenticationChallenge& challenge,
                                 URLSessionChallengeCompletion completion) override
    {
        completion(URLSessionAuthChallengeDisposition::UseCredential,
                   URLCredential::credentialWithUser("ann", challenge.previousFailureCount() ? "wrong" : "pw"));
    }
    void needNewBodyStream(URLSession&, URLSessionTask& task, std::function<void(std::shared_ptr<InputStream>)> completion) override
    {
        ++renewals;
        completion(renew ? task.originalRequest().httpBodyStream->copyInputStream() : nullptr);
    }
    void didCompleteWithError(URLSession&, URLSessionTask&, const std::optional<Error>& error) override { completed.set_value(error); }
};

}  // namespace

TEST(URLSessionStream, AStreamedBodyIsSentWholeAndAgainOnlyFromAFreshStream)
{
    const std::string body(70000, 'b');
    struct Case {
        bool declaresLength, password, renew;
        std::int64_t errorCode;
    };
    for (const Case& c : std::vector<Case>{{true, false, true, 0}, {false, false, true, 0}, {false, true, true, 0},
                                           {true, true, false, URLErrorRequestBodyStreamExhausted}}) {
        SCOPED_TRACE(::testing::Message() << c.declaresLength << c.password << c.renew);
        RunLoop loop;
        Dispatch dispatch{loop};
        NotificationCenter center;
        LoopbackServer server;
        const LoopbackServer::Reply ok{200, "text/plain", "ok", {}, 0};
        if (c.password) server.requireBasicAuthentication("/up", "ann", "pw", ok);
        else server.serve("/up", ok);
        auto delegate = std::make_shared<StreamDelegate>();
        delegate->renew = c.renew;
        auto session = URLSession::sessionWithConfiguration({}, delegate, dispatch.makeSerial("stream-test"), center);
        URLRequest request(server.url("/up"), 5);
        request.httpMethod = "PUT";
        request.httpBodyStream = std::make_shared<DataInputStream>(Bytes(body.begin(), body.end()));
        if (c.declaresLength) request.setValue(std::to_string(body.size()), "Content-Length");
        EXPECT_FALSE(session->uploadTaskWithStreamedRequest(URLRequest(server.url("/up"))));
        auto task = session->uploadTaskWithStreamedRequest(request);
        EXPECT_EQ(task->countOfBytesExpectedToSend(), c.declaresLength ? static_cast<std::int64_t>(body.size()) : -1);
        auto completed = delegate->completed.get_future();
        task->resume();
        ASSERT_EQ(completed.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        const std::optional<Error> error = completed.get();
        EXPECT_EQ(error ? error->code : 0, c.errorCode);
        const auto seen = server.requests("/up");
        EXPECT_EQ(seen.size(), c.password && c.renew ? 2u : 1u);
        EXPECT_EQ(delegate->renewals, c.password ? 1 : 0);
        EXPECT_EQ(seen.back().header("Transfer-Encoding"), c.declaresLength ? "" : "chunked");
        EXPECT_EQ(seen.back().body, error ? seen.back().body : body);
        session->invalidateAndCancel();
    }
}
