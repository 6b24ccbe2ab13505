#pragma once

#include <gtest/gtest.h>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>

#include "platform/url/FileOutputStream.h"
#include "platform/url/NetworkThread.h"
#include "platform/url/URLConnection.h"
#include "platform/url/URLError.h"
#include "support/Locked.h"
#include "support/server/LoopbackServer.h"

namespace support::urlconnection {

using namespace platform;
using support::LoopbackServer;

// Records what a connection reports, from the network thread, for the test thread to wait on. What it
// recorded before the end may be read without the lock once waitForEnd() said so.
class Recorder final : public URLConnectionDelegate, public support::Watched {
public:
    explicit Recorder(bool followRedirects = true) : m_follow(followRedirects) {}

    void willSendRequestForAuthenticationChallenge(URLConnection&, AuthenticationChallenge& challenge) override
    {
        std::function<void(AuthenticationChallenge&)> answer;
        locked([&] { answer = answerChallenge; });
        if (answer) answer(challenge);
        else challenge.continueWithoutCredential();
    }
    std::optional<URLRequest> willSendRequest(URLConnection&, const URLRequest& request, const URLResponse& response) override
    {
        locked([&] { redirects.push_back(response.statusCode); });
        return m_follow ? std::optional(request) : std::nullopt;
    }
    void didReceiveResponse(URLConnection&, const URLResponse& received) override { locked([&] { response = received, ++responses; }); }
    void didReceiveData(URLConnection& connection, const std::uint8_t* data, std::size_t length) override
    {
        locked([&] { body.append(reinterpret_cast<const char*>(data), length); });
        if (cancelAfterFirstChunk) connection.cancel();
    }
    void didFinishLoading(URLConnection&) override { locked([&] { ++ends; }); }
    void didFailWithError(URLConnection&, const Error& failure) override { locked([&] { error = failure, ++ends; }); }

    bool waitForEnd(std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, [&] { return ends > 0; });
    }

    std::optional<URLResponse> response;
    int responses = 0, ends = 0;
    std::string body;
    std::vector<std::int64_t> redirects;
    std::optional<Error> error;
    bool cancelAfterFirstChunk = false;
    // Answers trust and password challenges, on the network thread; unset, the standard evaluation and
    // no password.
    std::function<void(AuthenticationChallenge&)> answerChallenge;

private:
    bool m_follow;
};

inline std::shared_ptr<URLConnection> startOn(NetworkThread& thread, URLRequest request, std::shared_ptr<Recorder> recorder)
{
    auto connection = URLConnection::create(std::move(request), recorder);
    thread.perform([&thread, connection] { connection->start(thread.loop()); });
    return connection;
}

// A loopback server and a network thread to run connections to it on.
struct ConnectionFixture : ::testing::Test {
    LoopbackServer server;
    NetworkThread thread{"test.network"};

    // Runs the request to its end.
    std::shared_ptr<Recorder> fetch(URLRequest request, std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>(),
                                    std::chrono::seconds limit = std::chrono::seconds(10))
    {
        startOn(thread, std::move(request), recorder);
        EXPECT_TRUE(recorder->waitForEnd(limit));
        return recorder;
    }
    std::shared_ptr<Recorder> fetch(const std::string& path) { return fetch(URLRequest(server.url(path))); }
};

}  // namespace support::urlconnection
