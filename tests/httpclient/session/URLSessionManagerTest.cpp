#include <gtest/gtest.h>

#include "httpclient/serialization/HTTPRequestSerializer.h"
#include "support/httpclient/SessionManagerFixture.h"
#include "support/server/RawHTTPRecorder.h"

using namespace support::sessionmanager;

namespace {

TEST_F(ManagerFixture, ADataTaskCompletesOnTheMainQueueAndThenPostsItsCompletion)
{
    server.serve("/doc", "document");
    auto outcome = std::make_shared<Outcome>();
    auto task = manager->dataTaskWithRequest(URLRequest(server.url("/doc"), 5), collect(outcome));
    EXPECT_EQ(task->state(), URLSessionTaskState::Suspended);
    EXPECT_EQ(task->taskDescription(), manager->taskDescriptionForSessionTasks());
    auto progress = manager->downloadProgressForTask(*task);
    ASSERT_TRUE(progress);
    const Outcome result = run(task, outcome);
    EXPECT_EQ(std::pair(progress->totalUnitCount(), progress->completedUnitCount()), std::pair(std::int64_t{0}, std::int64_t{0}));
    EXPECT_TRUE(result.onMain);
    EXPECT_FALSE(result.error);
    EXPECT_EQ(text(result.object), "document");
    const Notification done = last();
    EXPECT_EQ(done.name, NetworkingTaskDidCompleteNotification);
    EXPECT_EQ(done.sender, task.get());
    EXPECT_EQ(text(done.userInfo.at(NetworkingTaskDidCompleteResponseDataKey)), "document");
    EXPECT_EQ(text(done.userInfo.at(NetworkingTaskDidCompleteSerializedResponseKey)), "document");
    EXPECT_EQ(std::pair(done.userInfo.count(NetworkingTaskDidCompleteResponseSerializerKey), done.userInfo.count(NetworkingTaskDidCompleteErrorKey)),
              std::pair(std::size_t{1}, std::size_t{0}));
}

// A new manager parses JSON and refuses other types; a refused status fails through the serializer, the
// error in the completion; a 401 whose challenges none can be answered ends the task in a failure that says
// so, never a success.
TEST_F(ManagerFixture, ANewManagerParsesJSONAndARefusedTypeStatusOrChallengeFailsTheTask)
{
    server.serve("/doc.json", "{\"a\": 1}", "application/json");
    server.serve("/page", "<html/>", "text/html");
    auto fresh = URLSessionManager::create(dispatch, center);
    for (const std::string path : {"/doc.json", "/page"}) {
        auto outcome = std::make_shared<Outcome>();
        fresh->dataTaskWithRequest(URLRequest(server.url(path), 5), collect(outcome))->resume();
        ASSERT_TRUE(loop.runUntil([&] { return outcome->done; }));
        EXPECT_EQ(std::pair(outcome->error.has_value(), outcome->object.has_value()), std::pair(path == "/page", path == "/doc.json"));
    }
    fresh->invalidateSessionCancelingTasks(true);
    EXPECT_TRUE(loop.runUntil([&] { return invalidated(fresh->session().get()) == 1; }));

    server.serve("/gone", LoopbackServer::Reply{404, "text/plain", "nope", {}, 0});
    server.serve("/vault", LoopbackServer::Reply{401, "text/plain", "who", {{"WWW-Authenticate", "Bearer realm=\"v\""}}, 0});
    for (const auto& [path, code] : {std::pair("/gone", std::int64_t{-1011}),
                                     std::pair("/vault", std::int64_t{URLErrorUserAuthenticationRequired})}) {
        SCOPED_TRACE(path);
        forget();
        const Outcome result = fetch(path);
        EXPECT_EQ(result.error ? result.error->code : 0, code);
        EXPECT_EQ(last().userInfo.count(NetworkingTaskDidCompleteErrorKey), 1u);
        if (code == -1011) {
            EXPECT_EQ(result.response->statusCode, 404);
        } else {
            EXPECT_FALSE(result.object.has_value());
        }
    }
}

TEST_F(ManagerFixture, OnlyItsOwnTasksResumeAndSuspendNotificationsArePassedOnToTheMainQueue)
{
    server.stall("/wait");
    auto other = URLSessionManager::create(dispatch, center);
    auto mine = manager->dataTaskWithRequest(URLRequest(server.url("/wait"), 5), nullptr);
    auto theirs = other->dataTaskWithRequest(URLRequest(server.url("/wait"), 5), nullptr);
    mine->resume();
    mine->resume();
    mine->suspend();
    theirs->resume();
    EXPECT_EQ(count(NetworkingTaskDidResumeNotification), 0);
    loop.runUntilIdle();
    EXPECT_EQ(std::tuple(count(NetworkingTaskDidResumeNotification, mine.get()), count(NetworkingTaskDidSuspendNotification, mine.get()),
                         count(NetworkingTaskDidResumeNotification, theirs.get()), count(NetworkingTaskDidResumeNotification)),
              std::tuple(1, 1, 1, 2));
    EXPECT_EQ(manager->tasks(), std::vector<URLSessionManager::TaskPtr>{mine});
    other->invalidateSessionCancelingTasks(true);
    EXPECT_TRUE(loop.runUntil([&] { return invalidated(other->session().get()) == 1; }));
    server.release();
}

TEST_F(ManagerFixture, ADownloadIsMovedToItsDestinationAndAFailedMoveFailsTheTask)
{
    server.serve("/pack.zip", std::string(30000, 'z'));
    const std::string destination = (folder / "pack.zip").string();
    for (bool occupied : {false, true}) {
        forget();
        auto outcome = std::make_shared<Outcome>();
        std::shared_ptr<Progress> progress;
        auto task = manager->downloadTaskWithRequest(
            URLRequest(server.url("/pack.zip"), 5), &progress,
            [&](const std::string&, const std::optional<URLResponse>& response) {
                EXPECT_EQ(response->statusCode, 200);
                return std::optional<std::string>(destination);
            },
            collect(outcome));
        ASSERT_EQ(progress, manager->downloadProgressForTask(*task));
        const Outcome result = run(task, outcome);
        EXPECT_EQ(std::any_cast<std::string>(last().userInfo.at(NetworkingTaskDidCompleteAssetPathKey)), destination);
        EXPECT_EQ(result.error.has_value(), occupied);
        if (occupied) {
            EXPECT_FALSE(result.object.has_value());
            EXPECT_EQ(count(URLSessionDownloadTaskDidFailToMoveFileNotification + std::string(" off main")), 1);
        } else {
            EXPECT_EQ(std::any_cast<std::string>(result.object), destination);
            EXPECT_EQ(std::filesystem::file_size(destination), 30000u);
            EXPECT_EQ(std::pair(progress->completedUnitCount(), progress->totalUnitCount()), std::pair(std::int64_t{30000}, std::int64_t{30000}));
        }
    }
}

// An upload's progress follows the bytes sent; a multipart body written to a file is uploaded by that file's URL.
TEST_F(ManagerFixture, UploadsFollowTheBytesSentAndAMultipartBodyFileGoesByItsURL)
{
    server.serve("/in", "ok");
    auto outcome = std::make_shared<Outcome>();
    std::shared_ptr<Progress> progress;
    URLRequest put(server.url("/in"), 5);
    put.httpMethod = "PUT";
    run(manager->uploadTaskWithRequestFromData(put, Bytes(100000, 'q'), &progress, collect(outcome)), outcome);
    EXPECT_EQ(std::pair(progress->totalUnitCount(), progress->completedUnitCount()), std::pair(std::int64_t{100000}, std::int64_t{100000}));
    EXPECT_TRUE(server.requests("/in").back().body == std::string(100000, 'q'));
    // The loopback server's library takes multipart bodies apart; this one keeps them as they came.
    support::RawHTTPRecorder wire;
    HTTPRequestSerializer serializer;
    const URLRequest form = *serializer.multipartFormRequestWithMethod("POST", wire.url("/form"), ParameterDictionary{{"a", "x"}}, nullptr);
    const std::string fileURL = "file://" + folder.string() + "/body%20file";
    std::optional<std::optional<Error>> written;
    const URLRequest request = serializer.requestWithMultipartFormRequest(dispatch, form, fileURL,
                                                                          [&](std::optional<Error> error) { written = error; });
    ASSERT_TRUE(loop.runUntil([&] { return written.has_value(); }));
    ASSERT_FALSE(*written);
    std::ifstream file(folder / "body file", std::ios::binary);
    const std::string body((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());

    outcome = std::make_shared<Outcome>();
    EXPECT_FALSE(run(manager->uploadTaskWithRequestFromFile(request, fileURL, nullptr, collect(outcome)), outcome).error);
    ASSERT_EQ(wire.requests("/form").size(), 1u);
    const auto seen = wire.requests("/form").back();
    EXPECT_EQ(seen.body, body);
    EXPECT_NE(seen.head.find("\r\nContent-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
    EXPECT_NE(seen.head.find("\r\nContent-Type: multipart/form-data; boundary="), std::string::npos);
    // Only a file URL names a file.
    EXPECT_FALSE(manager->uploadTaskWithRequestFromFile(request, wire.url("/form"), nullptr, collect(outcome)));
}

// The task overrides decide: a redirect may stop at the redirect response, a password challenge is answered.
TEST_F(ManagerFixture, TheTaskOverridesMayStopAtARedirectAndAnswerAPasswordChallenge)
{
    server.redirect("/old", "/new");
    server.serve("/new", "new");
    for (bool stop : {false, true}) {
        forget();
        if (stop)
            manager->setTaskWillPerformHTTPRedirectionBlock(
                [](URLSession&, URLSessionTask&, const URLResponse&, const URLRequest&) { return std::optional<URLRequest>(); });
        EXPECT_EQ(fetch("/old").response->statusCode, stop ? 302 : 200);
        EXPECT_EQ(text(last().userInfo.at(NetworkingTaskDidCompleteResponseDataKey)), stop ? "moved" : "new");
    }
    server.requireBasicAuthentication("/vault", "ann", "pw", LoopbackServer::Reply{200, "text/plain", "gold", {}, 0});
    manager->setTaskDidReceiveAuthenticationChallengeBlock(
        [](URLSession&, URLSessionTask&, AuthenticationChallenge& challenge, std::optional<URLCredential>& credential) {
            if (challenge.previousFailureCount() > 0) return URLSessionAuthChallengeDisposition::PerformDefaultHandling;
            credential = URLCredential::credentialWithUser("ann", "pw");
            return URLSessionAuthChallengeDisposition::UseCredential;
        });
    const Outcome result = fetch("/vault");
    EXPECT_FALSE(result.error);
    EXPECT_EQ(text(result.object), "gold");
}

TEST_F(ManagerFixture, InvalidationCancelsRunningTasksAndEndsWithTheOverrideAndTheNotification)
{
    server.stall("/forever");
    bool overrideRan = false;
    manager->setSessionDidBecomeInvalidBlock([&](URLSession&, const std::optional<Error>&) { overrideRan = true; });
    auto outcome = std::make_shared<Outcome>();
    manager->dataTaskWithRequest(URLRequest(server.url("/forever"), 5), collect(outcome))->resume();
    manager->invalidateSessionCancelingTasks(true);
    ASSERT_TRUE(loop.runUntil([&] { return outcome->done && invalidated() == 1; }));
    EXPECT_EQ(outcome->error->code, URLErrorCancelled);
    EXPECT_TRUE(overrideRan);
    EXPECT_EQ(manager->dataTaskWithRequest(URLRequest(server.url("/forever"), 5), nullptr), nullptr);
    server.release();
}

struct ManagerTrustFixture : ManagerFixture {
    support::TestIdentity authority = support::TestCertificates::makeAuthority("Loopback Root");
    support::TestIdentity identity = support::TestCertificates::makeServer(authority, "localhost", {"IP:127.0.0.1"});
    LoopbackServer secure{identity};
};

TEST_F(ManagerTrustFixture, TrustIsJudgedByThePolicyUnlessTheSessionOverrideAcceptsIt)
{
    auto trust = ServerTrust::create({identity.certificateDER}, TrustPolicy::basicX509());
    ASSERT_TRUE(trust);
    auto session = manager->session();
    auto task = manager->dataTaskWithRequest(URLRequest(secure.url("/t"), 5), nullptr);
    const auto answerTo = [&](AuthenticationChallenge challenge, bool sessionLevel) {
        std::pair<std::optional<URLSessionAuthChallengeDisposition>, bool> answer;
        auto completion = [&](URLSessionAuthChallengeDisposition d, std::optional<URLCredential> c) { answer = {d, c.has_value()}; };
        if (sessionLevel) manager->didReceiveChallenge(*session, challenge, completion);
        else manager->taskDidReceiveChallenge(*session, *task, challenge, completion);
        return answer;
    };
    for (bool lenient : {false, true}) {
        manager->securityPolicy->setAllowInvalidCertificates(lenient);
        manager->securityPolicy->setValidatesDomainName(!lenient);
        using Disposition = URLSessionAuthChallengeDisposition;
        const auto expected = lenient ? Disposition::UseCredential : Disposition::CancelAuthenticationChallenge;
        for (bool sessionLevel : {false, true})
            EXPECT_EQ(answerTo(AuthenticationChallenge(ProtectionSpace("127.0.0.1", kAuthenticationMethodServerTrust, &*trust)), sessionLevel),
                      std::pair(std::optional(expected), lenient));
    }
    EXPECT_EQ(answerTo(AuthenticationChallenge(ProtectionSpace("127.0.0.1", kAuthenticationMethodHTTPBasic)), false).first,
              URLSessionAuthChallengeDisposition::PerformDefaultHandling);
    // Over the wire the default policy refuses an unknown server and the session override may accept it.
    manager->securityPolicy->setAllowInvalidCertificates(false);
    manager->securityPolicy->setValidatesDomainName(true);
    secure.serve("/s", "secure");
    for (bool accept : {false, true}) {
        forget();
        if (accept)
            manager->setSessionDidReceiveAuthenticationChallengeBlock([](URLSession&, AuthenticationChallenge& challenge,
                                                                         std::optional<URLCredential>& credential) {
                credential = URLCredential::credentialForTrust(*challenge.protectionSpace().serverTrust);
                return URLSessionAuthChallengeDisposition::UseCredential;
            });
        auto outcome = std::make_shared<Outcome>();
        const Outcome result = run(manager->dataTaskWithRequest(URLRequest(secure.url("/s"), 5), collect(outcome)), outcome);
        EXPECT_EQ(result.error ? result.error->code : 0, accept ? 0 : std::int64_t{URLErrorCancelled});
        EXPECT_EQ(text(result.object), accept ? "secure" : "<not bytes>");
    }
}

}  // namespace
