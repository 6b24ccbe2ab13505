#include <gtest/gtest.h>

#include "support/server/HttpFixture.h"
#include "platform/url/FileOutputStream.h"
#include "platform/url/MemoryOutputStream.h"
#include "platform/url/URLError.h"
#include "platform/url/DataInputStream.h"
#include "platform/notifications/NotificationCenter.h"

#include <algorithm>
#include <set>

using namespace platform;
using support::LoopbackServer;

TEST(URLConnectionOperation, CancelBeforeStartFinishesWithTheCancelErrorOnStart)
{
    HttpFixture fixture;
    LoopbackServer server;
    server.serve("/a", "a");
    auto operation = fixture.operation(server.url("/a"));
    operation->cancel();
    EXPECT_TRUE(operation->isCancelled());
    EXPECT_TRUE(operation->isReady());
    auto outcome = fixture.run(operation);
    ASSERT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.error->code, URLErrorCancelled);
    EXPECT_EQ(outcome.error->info(kURLErrorFailingURLErrorKey), server.url("/a"));
    EXPECT_TRUE(operation->isFinished());
    EXPECT_EQ(server.hits("/a"), 0);

    // Finished is final: nothing changes it any more.
    operation->cancel();
    operation->pause();
    operation->resume();
    EXPECT_TRUE(operation->isFinished());
}

TEST(URLConnectionOperation, CancelDuringAStallEndsAtOnce)
{
    HttpFixture fixture;
    LoopbackServer server;
    server.stall("/slow");
    auto operation = fixture.operation(server.url("/slow"), 30.0);
    operation->setOutputStream(std::make_shared<FileOutputStream>((fixture.folder / "slow").string(), false));
    auto outcome = fixture.watch(operation);
    operation->start();
    EXPECT_TRUE(operation->isExecuting());
    ASSERT_TRUE(fixture.loop.runUntil([&] { return server.hits("/slow") == 1; }));
    operation->cancel();
    ASSERT_TRUE(fixture.loop.runUntil([&] { return outcome->done; }));
    EXPECT_FALSE(outcome->succeeded);
    EXPECT_EQ(outcome->error->code, URLErrorCancelled);
    server.release();
}

TEST(URLConnectionOperation, PauseAndResumeFollowTheStateTable)
{
    HttpFixture fixture;
    LoopbackServer server;
    server.serve("/doc", "document");
    auto operation = fixture.operation(server.url("/doc"));
    operation->resume();  // not paused: nothing
    EXPECT_TRUE(operation->isReady());
    operation->pause();  // never started
    EXPECT_TRUE(operation->isPaused());
    operation->start();  // a paused operation does not start
    EXPECT_TRUE(operation->isPaused());
    EXPECT_EQ(operation->request().valueForHTTPHeaderField("Range"), "bytes=0-");

    // A paused and cancelled operation only runs its cancel step once resumed.
    operation->cancel();
    EXPECT_TRUE(operation->isPaused());
    auto outcome = fixture.watch(operation);
    operation->resume();
    ASSERT_TRUE(fixture.loop.runUntil([&] { return outcome->done; }));
    EXPECT_EQ(outcome->error->code, URLErrorCancelled);
    EXPECT_EQ(server.hits("/doc"), 0);
}

TEST(URLConnectionOperation, PauseRewritesTheRequestToContinueFromTheStream)
{
    HttpFixture fixture;
    LoopbackServer server;
    server.serve("/part.zip", LoopbackServer::Reply{200, "application/zip", std::string(1000, 'p'), {{"ETag", "\"tag-7\""}}});
    auto operation = fixture.operation(server.url("/part.zip"));
    auto outcome = fixture.run(operation);
    ASSERT_TRUE(outcome.succeeded);
    operation->pause();  // finished: nothing
    EXPECT_FALSE(operation->request().valueForHTTPHeaderField("Range"));

    // An operation stopped mid-way, whose file holds 1000 bytes and whose response carried a tag.
    auto resumable = fixture.operation(server.url("/part.zip"));
    auto stream = std::make_shared<FileOutputStream>((fixture.folder / "part.zip").string(), false);
    resumable->setOutputStream(stream);
    stream->open();
    std::string bytes(1000, 'p');
    stream->write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    URLResponse response;
    response.allHeaderFields = {{"ETag", "\"tag-7\""}};
    resumable->didReceiveResponse(*URLConnection::create(resumable->request(), nullptr), response);
    resumable->pause();
    EXPECT_EQ(resumable->request().valueForHTTPHeaderField("Range"), "bytes=1000-");
    EXPECT_EQ(resumable->request().valueForHTTPHeaderField("If-Range"), "\"tag-7\"");
}

TEST(URLConnectionOperation, OutputStreamDefaultsToMemoryAndIsReplacedOnlyWhenDifferent)
{
    HttpFixture fixture;
    auto operation = fixture.operation("http://127.0.0.1:1/x");
    auto memory = operation->outputStream();
    EXPECT_EQ(operation->outputStream(), memory);
    EXPECT_TRUE(memory->dataWrittenToMemory());
    memory->open();
    operation->setOutputStream(memory);
    EXPECT_TRUE(memory->hasSpaceAvailable());  // the same stream: not closed
    operation->setOutputStream(std::make_shared<MemoryOutputStream>());
    EXPECT_FALSE(memory->hasSpaceAvailable());  // the replaced stream was closed
    EXPECT_EQ(operation->description().rfind("<HTTPRequestOperation: 0x", 0), 0u);
    EXPECT_NE(operation->description().find("state: isReady, cancelled: NO"), std::string::npos);
}

// A body in memory is taken whole from its stream at the end; an announced length is only the server's
// word, so one announcing a terabyte and sending a kilobyte fails as cut, for an unbounded stream and for
// one bounded below the announcement alike.
TEST(URLConnectionOperation, AMemoryBodyIsHandedOverWholeAndAnAnnouncedLengthIsNotTrusted)
{
    HttpFixture fixture;
    LoopbackServer server;
    server.serve("/whole.bin", std::string(70000, 'w'));
    server.truncate("/liar.bin", std::string(1000, 'l'), std::size_t(1) << 40);
    auto whole = fixture.operation(server.url("/whole.bin"));
    auto stream = std::make_shared<MemoryOutputStream>();
    stream->setMaximumLength(70000);
    whole->setOutputStream(stream);
    ASSERT_TRUE(fixture.run(whole).succeeded);
    EXPECT_EQ(whole->responseData(), Bytes(70000, 'w'));
    EXPECT_EQ(stream->dataWrittenToMemory(), Bytes{});

    for (const bool bounded : {false, true}) {
        auto liar = fixture.operation(server.url("/liar.bin"));
        auto held = std::make_shared<MemoryOutputStream>();
        if (bounded) held->setMaximumLength(4096);
        liar->setOutputStream(held);
        const auto outcome = fixture.run(liar);
        EXPECT_FALSE(outcome.succeeded) << bounded;
        ASSERT_TRUE(liar->error()) << bounded;
        EXPECT_EQ(liar->error()->code, URLErrorNetworkConnectionLost) << bounded;
    }
}

TEST(URLConnectionOperation, OffersItsCredentialOnceToBasicAndDigestChallenges)
{
    HttpFixture fixture;
    LoopbackServer server;
    server.requireBasicAuthentication("/basic", "ada", "pw", LoopbackServer::Reply{200, "text/plain", "in", {}}, "lab");
    server.requireDigestAuthentication("/digest", "ada", "pw", LoopbackServer::Reply{200, "text/plain", "in", {}}, "lab");

    for (const std::string path : {"/basic", "/digest"}) {
        auto operation = fixture.operation(server.url(path + "?q=1"));
        operation->setCredential(URLCredential::credentialWithUser("ada", "pw"));
        auto outcome = fixture.run(operation);
        EXPECT_TRUE(outcome.succeeded) << path;
        EXPECT_EQ(operation->responseString(), "in") << path;
        EXPECT_EQ(operation->response()->statusCode, 200) << path;

        // A refused credential is not offered again: the 401 is the answer.
        auto refused = fixture.operation(server.url(path));
        refused->setCredential(URLCredential::credentialWithUser("ada", "wrong"));
        const int before = server.hits(path);
        auto failed = fixture.run(refused);
        ASSERT_FALSE(failed.succeeded) << path;
        EXPECT_EQ(refused->response()->statusCode, 401) << path;
        EXPECT_EQ(server.hits(path) - before, 2) << path;

        auto without = fixture.operation(server.url(path));
        const int beforeWithout = server.hits(path);
        EXPECT_FALSE(fixture.run(without).succeeded) << path;
        EXPECT_EQ(server.hits(path) - beforeWithout, 1) << path;
    }
    EXPECT_EQ(server.requests("/digest").back().header("Authorization"), "");
}

// The operation's credential is for the host it was asked for: a redirect within that host keeps it, a
// redirect to another host name is not offered it, even when that host asks.
TEST(URLConnectionOperation, ItsCredentialIsOfferedOnlyToTheHostItWasAskedFor)
{
    HttpFixture fixture;
    LoopbackServer server;
    server.requireBasicAuthentication("/private", "ada", "pw", LoopbackServer::Reply{200, "text/plain", "in", {}}, "lab");
    for (const bool elsewhere : {false, true}) {
        server.redirect("/moved", server.url("/private", elsewhere ? "localhost" : "127.0.0.1"));
        auto operation = fixture.operation(server.url("/moved"));
        operation->setCredential(URLCredential::credentialWithUser("ada", "pw"));
        const int before = server.hits("/private");
        auto outcome = fixture.run(operation);
        EXPECT_EQ(outcome.succeeded, !elsewhere) << elsewhere;
        EXPECT_EQ(operation->response()->statusCode, elsewhere ? 401 : 200) << elsewhere;
        EXPECT_EQ(server.hits("/private") - before, elsewhere ? 1 : 2) << elsewhere;
    }
}

// A 401 whose challenges none can be answered fails the operation saying so; its credential is not spent.
TEST(URLConnectionOperation, AChallengeNoneCanAnswerFailsIt)
{
    HttpFixture fixture;
    LoopbackServer server;
    server.serve("/token", LoopbackServer::Reply{401, "text/plain", "who", {{"WWW-Authenticate", "Bearer realm=\"v\""}}});
    auto operation = fixture.operation(server.url("/token"));
    operation->setCredential(URLCredential::credentialWithUser("ada", "pw"));
    auto outcome = fixture.run(operation);
    ASSERT_FALSE(outcome.succeeded);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code, URLErrorUserAuthenticationRequired);
    EXPECT_EQ(server.hits("/token"), 1);
    EXPECT_EQ(server.requests("/token").back().header("Authorization"), "");
}

TEST(URLConnectionOperation, TheChallengeBlockSeesPasswordChallengesAndCanRefuseThem)
{
    HttpFixture fixture;
    LoopbackServer server;
    server.requireDigestAuthentication("/digest", "ada", "pw", LoopbackServer::Reply{200, "text/plain", "in", {}}, "lab");
    std::vector<std::string> seen;
    auto operation = fixture.operation(server.url("/digest"));
    operation->setWillSendRequestForAuthenticationChallengeBlock([&seen](URLConnection&, AuthenticationChallenge& challenge) {
        seen.push_back(challenge.protectionSpace().authenticationMethod + " " + challenge.protectionSpace().realm + " " +
                       std::to_string(challenge.previousFailureCount()));
        if (challenge.previousFailureCount() == 0)
            challenge.useCredential(URLCredential::credentialWithUser("ada", "pw"));
        else
            challenge.cancelAuthenticationChallenge();
    });
    EXPECT_TRUE(fixture.run(operation).succeeded);
    EXPECT_EQ(seen, (std::vector<std::string>{std::string(kAuthenticationMethodHTTPDigest) + " lab 0"}));

    seen.clear();
    auto cancelled = fixture.operation(server.url("/digest"));
    cancelled->setWillSendRequestForAuthenticationChallengeBlock([&seen](URLConnection&, AuthenticationChallenge& challenge) {
        seen.push_back(challenge.protectionSpace().authenticationMethod);
        challenge.cancelAuthenticationChallenge();
    });
    auto outcome = fixture.run(cancelled);
    ASSERT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.error->code, URLErrorUserCancelledAuthentication);
    EXPECT_EQ(seen.size(), 1u);
}

TEST(URLConnectionOperation, ReportsUploadProgressAndItsStartAndFinishOnTheMainQueue)
{
    HttpFixture fixture;
    LoopbackServer server;
    server.serve("/up", "ok");
    NotificationCenter center;
    URLRequest request(server.url("/up"), 30.0);
    request.httpMethod = "POST";
    request.httpBody = Bytes(300000, 'b');
    auto operation = std::make_shared<HTTPRequestOperation>(fixture.dispatch, request);
    operation->setNotificationCenter(&center);
    std::vector<std::string> told;
    for (const char* name : {OperationDidStartNotification, OperationDidFinishNotification})
        center.addObserver(name, operation.get(), [&](const Notification& notification) {
            EXPECT_TRUE(fixture.loop.isMainThread());
            told.push_back(notification.name == OperationDidStartNotification ? "start" : "finish");
        });
    std::int64_t sent = 0, lastTotal = 0, expected = 0;
    bool onMain = true;
    operation->setUploadProgressBlock([&](std::uint64_t bytes, std::int64_t total, std::int64_t totalExpected) {
        onMain = onMain && fixture.loop.isMainThread();
        sent += static_cast<std::int64_t>(bytes);
        lastTotal = total;
        expected = totalExpected;
    });
    EXPECT_TRUE(fixture.run(operation).succeeded);
    fixture.loop.runUntil([&] { return told.size() == 2; });
    EXPECT_EQ(told, (std::vector<std::string>{"start", "finish"}));
    EXPECT_EQ(sent, 300000);
    EXPECT_EQ(lastTotal, 300000);
    EXPECT_EQ(expected, 300000);
    EXPECT_TRUE(onMain);
    EXPECT_EQ(server.requests("/up").front().body.size(), 300000u);
}

TEST(URLConnectionOperation, PausingARunningOperationTellsItFinishedAndTheBodyStreamIsTheRequests)
{
    HttpFixture fixture;
    LoopbackServer server;
    server.stall("/slow");
    NotificationCenter center;
    auto operation = fixture.operation(server.url("/slow"));
    operation->setNotificationCenter(&center);
    int finished = 0;
    center.addObserver(OperationDidFinishNotification, operation.get(), [&](const Notification&) { ++finished; });
    operation->start();
    ASSERT_TRUE(fixture.loop.runUntil([&] { return server.hits("/slow") == 1; }));
    operation->pause();
    ASSERT_TRUE(fixture.loop.runUntil([&] { return finished == 1; }));
    EXPECT_TRUE(operation->isPaused());
    server.release();

    auto stream = std::make_shared<DataInputStream>(Bytes{'x'});
    operation->setInputStream(stream);
    EXPECT_EQ(operation->inputStream(), stream);
    EXPECT_EQ(operation->request().httpBodyStream, stream);
    EXPECT_EQ(operation->request().valueForHTTPHeaderField("Range"), "bytes=0-");
}

TEST(URLConnectionOperation, ACopyIsANewOperationOfItsClassSharingOnlyItsBlocksAndQueues)
{
    HttpFixture fixture;
    LoopbackServer server;
    server.serve("/doc", "document", "text/plain");
    auto operation = fixture.operation(server.url("/doc"));
    auto serializer = std::make_shared<HTTPResponseSerializer>();
    serializer->acceptableContentTypes = std::set<std::string>{"text/plain"};
    operation->setResponseSerializer(serializer);
    platform::Queue& queue = fixture.dispatch.global(platform::Priority::Default);
    operation->setCompletionQueue(&queue);
    auto group = std::make_shared<DispatchGroup>();
    operation->setCompletionGroup(group);
    int downloads = 0;
    operation->setDownloadProgressBlock([&](std::uint64_t, std::int64_t, std::int64_t) { ++downloads; });
    operation->setCredential(URLCredential::credentialWithUser("u", "p"));
    operation->setOutputStream(std::make_shared<FileOutputStream>((fixture.folder / "doc").string(), false));
    operation->pause();

    auto copied = std::dynamic_pointer_cast<HTTPRequestOperation>(operation->copy());
    ASSERT_TRUE(copied);
    EXPECT_TRUE(copied->isReady());
    EXPECT_EQ(copied->request().url, operation->request().url);
    EXPECT_EQ(copied->completionQueue(), &queue);
    EXPECT_EQ(copied->completionGroup(), group);
    EXPECT_FALSE(copied->credential());
    EXPECT_NE(copied->responseSerializer(), serializer);
    EXPECT_EQ(copied->responseSerializer()->acceptableContentTypes, serializer->acceptableContentTypes);
    copied->setCompletionQueue(nullptr);
    EXPECT_TRUE(fixture.run(copied).succeeded);
    EXPECT_EQ(copied->responseString(), "document");
    EXPECT_EQ(downloads, 1);
    EXPECT_FALSE(std::filesystem::exists(fixture.folder / "doc") && std::filesystem::file_size(fixture.folder / "doc") > 0);
}

TEST(URLConnectionOperation, TheCacheDecisionIsTheBlocksElseNoneOnceCancelled)
{
    HttpFixture fixture;
    auto operation = fixture.operation("http://127.0.0.1:1/x");
    auto connection = URLConnection::create(operation->request(), nullptr);
    CachedURLResponse proposed{URLResponse{}, Bytes{'d'}};
    EXPECT_EQ(operation->willCacheResponse(*connection, proposed)->data, Bytes{'d'});
    operation->cancel();
    EXPECT_FALSE(operation->willCacheResponse(*connection, proposed));
    operation->setCacheResponseBlock([](URLConnection&, const CachedURLResponse& offered) {
        return CachedURLResponse{offered.response, Bytes{'b'}};
    });
    EXPECT_EQ(operation->willCacheResponse(*connection, proposed)->data, Bytes{'b'});
}

TEST(URLConnectionOperation, ABatchReportsEachCompletionAndEndsOnceAllHave)
{
    HttpFixture fixture;
    LoopbackServer server;
    server.serve("/a", "a");
    server.serve("/b", "b");
    auto empty = URLConnectionOperation::batchOfRequestOperations(fixture.dispatch, {}, nullptr,
                                                                  [&](const auto& operations) { EXPECT_TRUE(operations.empty()); });
    EXPECT_TRUE(empty.operations.empty());
    bool emptyEnded = false;
    auto emptyWithFlag = URLConnectionOperation::batchOfRequestOperations(
        fixture.dispatch, {}, nullptr, [&](const auto&) { emptyEnded = true; });
    emptyWithFlag.finalOperation();
    EXPECT_TRUE(fixture.loop.runUntil([&] { return emptyEnded; }));

    std::vector<std::string> log;
    std::vector<std::shared_ptr<URLConnectionOperation>> operations;
    for (const char* path : {"/a", "/b", "/missing"}) {
        auto operation = fixture.operation(server.url(path));
        operation->setCompletionBlockWithSuccess(
            [&log, path](HTTPRequestOperation&, const std::any&) { log.push_back(std::string("done ") + path); },
            [&log, path](HTTPRequestOperation&, const Error&) { log.push_back(std::string("failed ") + path); });
        operations.push_back(operation);
    }
    bool ended = false;
    auto batch = URLConnectionOperation::batchOfRequestOperations(
        fixture.dispatch, operations,
        [&log](std::size_t finished, std::size_t total) { log.push_back(std::to_string(finished) + "/" + std::to_string(total)); },
        [&](const std::vector<std::shared_ptr<URLConnectionOperation>>& done) {
            EXPECT_EQ(done.size(), 3u);
            log.push_back("all");
            ended = true;
        });
    ASSERT_EQ(batch.operations.size(), 3u);
    batch.finalOperation();
    for (auto& operation : batch.operations) operation->start();
    ASSERT_TRUE(fixture.loop.runUntil([&] { return ended; }));
    EXPECT_EQ(log.back(), "all");
    EXPECT_EQ(std::count(log.begin(), log.end(), "done /a") + std::count(log.begin(), log.end(), "done /b") +
                  std::count(log.begin(), log.end(), "failed /missing"),
              3);
    std::vector<std::string> counts;
    for (const auto& line : log)
        if (line.find('/') == 1) counts.push_back(line);
    // Every operation has finished by the last count.
    ASSERT_EQ(counts.size(), 3u);
    EXPECT_EQ(counts.back(), "3/3");

}
