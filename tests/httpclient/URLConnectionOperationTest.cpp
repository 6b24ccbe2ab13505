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

namespace {

struct Operation : HttpFixture, ::testing::Test {
    LoopbackServer server;
    // An operation on the server's path that answers a password challenge with the credential.
    std::shared_ptr<HTTPRequestOperation> withCredential(const std::string& path, const std::string& password)
    {
        auto made = operation(server.url(path));
        made->setCredential(URLCredential::credentialWithUser("ada", password));
        return made;
    }
};

}  // namespace

// Before it starts: a cancelled operation finishes with the cancel error on start, and finished is final;
// a paused one does not start, and once cancelled runs its cancel step only when resumed.
TEST_F(Operation, CancelAndPauseBeforeStartFollowTheStateTable)
{
    server.serve("/a", "a");
    auto cancelled = operation(server.url("/a"));
    cancelled->cancel();
    EXPECT_TRUE(cancelled->isCancelled() && cancelled->isReady());
    auto outcome = run(cancelled);
    ASSERT_FALSE(outcome.succeeded);
    EXPECT_EQ(std::pair(outcome.error->code, outcome.error->info(kURLErrorFailingURLErrorKey)),
              std::pair(std::int64_t{URLErrorCancelled}, server.url("/a")));
    EXPECT_TRUE(cancelled->isFinished());
    for (auto step : {&URLConnectionOperation::cancel, &URLConnectionOperation::pause, &URLConnectionOperation::resume}) ((*cancelled).*step)();
    EXPECT_TRUE(cancelled->isFinished());

    auto paused = operation(server.url("/a"));
    paused->resume();  // not paused: nothing
    EXPECT_TRUE(paused->isReady());
    paused->pause();
    paused->start();  // a paused operation does not start
    EXPECT_TRUE(paused->isPaused());
    EXPECT_EQ(paused->request().valueForHTTPHeaderField("Range"), "bytes=0-");
    paused->cancel();
    EXPECT_TRUE(paused->isPaused());
    auto watched = watch(paused);
    paused->resume();
    ASSERT_TRUE(loop.runUntil([&] { return watched->done; }));
    EXPECT_EQ(watched->error->code, URLErrorCancelled);
    EXPECT_EQ(server.hits("/a"), 0);
}

TEST_F(Operation, PauseRewritesTheRequestToContinueFromTheStream)
{
    server.serve("/part.zip", LoopbackServer::Reply{200, "application/zip", std::string(1000, 'p'), {{"ETag", "\"tag-7\""}}});
    auto finished = operation(server.url("/part.zip"));
    ASSERT_TRUE(run(finished).succeeded);
    finished->pause();  // finished: nothing
    EXPECT_FALSE(finished->request().valueForHTTPHeaderField("Range"));

    // An operation stopped mid-way, whose file holds 1000 bytes and whose response carried a tag.
    auto resumable = operation(server.url("/part.zip"));
    auto stream = std::make_shared<FileOutputStream>((folder / "part.zip").string(), false);
    resumable->setOutputStream(stream);
    stream->open();
    const std::string bytes(1000, 'p');
    stream->write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    URLResponse response;
    response.allHeaderFields = {{"ETag", "\"tag-7\""}};
    resumable->didReceiveResponse(*URLConnection::create(resumable->request(), nullptr), response);
    resumable->pause();
    EXPECT_EQ(resumable->request().valueForHTTPHeaderField("Range"), "bytes=1000-");
    EXPECT_EQ(resumable->request().valueForHTTPHeaderField("If-Range"), "\"tag-7\"");
}

// The output stream defaults to memory and is replaced (and closed) only by another; the cache decision is
// the block's, else none once cancelled.
TEST_F(Operation, OutputStreamAndCacheDecisionOfAnOperationNotStarted)
{
    auto unstarted = operation("http://127.0.0.1:1/x");
    auto memory = unstarted->outputStream();
    EXPECT_EQ(unstarted->outputStream(), memory);
    EXPECT_TRUE(memory->dataWrittenToMemory());
    memory->open();
    unstarted->setOutputStream(memory);
    EXPECT_TRUE(memory->hasSpaceAvailable());  // the same stream: not closed
    unstarted->setOutputStream(std::make_shared<MemoryOutputStream>());
    EXPECT_FALSE(memory->hasSpaceAvailable());  // the replaced stream was closed
    EXPECT_EQ(unstarted->description().rfind("<HTTPRequestOperation: 0x", 0), 0u);
    EXPECT_NE(unstarted->description().find("state: isReady, cancelled: NO"), std::string::npos);

    auto connection = URLConnection::create(unstarted->request(), nullptr);
    CachedURLResponse proposed{URLResponse{}, Bytes{'d'}};
    EXPECT_EQ(unstarted->willCacheResponse(*connection, proposed)->data, Bytes{'d'});
    unstarted->cancel();
    EXPECT_FALSE(unstarted->willCacheResponse(*connection, proposed));
    unstarted->setCacheResponseBlock([](URLConnection&, const CachedURLResponse& offered) {
        return CachedURLResponse{offered.response, Bytes{'b'}};
    });
    EXPECT_EQ(unstarted->willCacheResponse(*connection, proposed)->data, Bytes{'b'});
}

// A body in memory is taken whole from its stream at the end; an announced length is only the server's
// word, so one announcing a terabyte and sending a kilobyte fails as cut, for an unbounded stream and for
// one bounded below the announcement alike.
TEST_F(Operation, AMemoryBodyIsHandedOverWholeAndAnAnnouncedLengthIsNotTrusted)
{
    server.serve("/whole.bin", std::string(70000, 'w'));
    server.truncate("/liar.bin", std::string(1000, 'l'), std::size_t(1) << 40);
    auto whole = operation(server.url("/whole.bin"));
    auto stream = std::make_shared<MemoryOutputStream>();
    stream->setMaximumLength(70000);
    whole->setOutputStream(stream);
    ASSERT_TRUE(run(whole).succeeded);
    EXPECT_EQ(whole->responseData(), Bytes(70000, 'w'));
    EXPECT_EQ(stream->dataWrittenToMemory(), Bytes{});
    for (const bool bounded : {false, true}) {
        auto liar = operation(server.url("/liar.bin"));
        auto held = std::make_shared<MemoryOutputStream>();
        if (bounded) held->setMaximumLength(4096);
        liar->setOutputStream(held);
        EXPECT_FALSE(run(liar).succeeded) << bounded;
        EXPECT_EQ(liar->error() ? liar->error()->code : 0, URLErrorNetworkConnectionLost) << bounded;
    }
}

// A credential is offered once to a Basic or Digest challenge: a refused one is not offered again, the 401
// is the answer; with none, the first 401 is. It is for the host it was asked for: a redirect within that
// host keeps it, one to another host name is not offered it, even when that host asks. A 401 whose
// challenges none can be answered fails the operation saying so, the credential unspent.
TEST_F(Operation, OffersItsCredentialOnceAndOnlyToTheHostItWasAskedFor)
{
    server.requireBasicAuthentication("/basic", "ada", "pw", LoopbackServer::Reply{200, "text/plain", "in", {}}, "lab");
    server.requireDigestAuthentication("/digest", "ada", "pw", LoopbackServer::Reply{200, "text/plain", "in", {}}, "lab");
    for (const std::string path : {"/basic", "/digest"}) {
        SCOPED_TRACE(path);
        auto accepted = withCredential(path + "?q=1", "pw");
        EXPECT_TRUE(run(accepted).succeeded);
        EXPECT_EQ(std::pair(accepted->responseString(), accepted->response()->statusCode),
                  std::pair(std::optional<std::string>("in"), std::int64_t{200}));
        using Refusal = std::pair<std::optional<std::string>, int>;  // the password offered, and the requests it takes
        for (const auto& [password, requests] : {Refusal("wrong", 2), Refusal(std::nullopt, 1)}) {
            auto refused = password ? withCredential(path, *password) : operation(server.url(path));
            const int before = server.hits(path);
            ASSERT_FALSE(run(refused).succeeded);
            EXPECT_EQ(refused->response()->statusCode, 401);
            EXPECT_EQ(server.hits(path) - before, requests);
        }
    }
    EXPECT_EQ(server.requests("/digest").back().header("Authorization"), "");
    for (const bool elsewhere : {false, true}) {
        server.redirect("/moved", server.url("/basic", elsewhere ? "localhost" : "127.0.0.1"));
        auto moved = withCredential("/moved", "pw");
        const int before = server.hits("/basic");
        EXPECT_EQ(run(moved).succeeded, !elsewhere) << elsewhere;
        EXPECT_EQ(moved->response()->statusCode, elsewhere ? 401 : 200) << elsewhere;
        EXPECT_EQ(server.hits("/basic") - before, elsewhere ? 1 : 2) << elsewhere;
    }
    server.serve("/token", LoopbackServer::Reply{401, "text/plain", "who", {{"WWW-Authenticate", "Bearer realm=\"v\""}}});
    auto outcome = run(withCredential("/token", "pw"));
    EXPECT_EQ(outcome.error ? outcome.error->code : 0, URLErrorUserAuthenticationRequired);
    EXPECT_EQ(std::pair(server.hits("/token"), server.requests("/token").back().header("Authorization")), std::pair(1, std::string()));
}

TEST_F(Operation, TheChallengeBlockSeesPasswordChallengesAndCanRefuseThem)
{
    server.requireDigestAuthentication("/digest", "ada", "pw", LoopbackServer::Reply{200, "text/plain", "in", {}}, "lab");
    for (const bool answering : {true, false}) {
        std::vector<std::string> seen;
        auto asked = operation(server.url("/digest"));
        asked->setWillSendRequestForAuthenticationChallengeBlock([&](URLConnection&, AuthenticationChallenge& challenge) {
            seen.push_back(challenge.protectionSpace().authenticationMethod + " " + challenge.protectionSpace().realm + " " +
                           std::to_string(challenge.previousFailureCount()));
            if (answering && challenge.previousFailureCount() == 0) challenge.useCredential(URLCredential::credentialWithUser("ada", "pw"));
            else challenge.cancelAuthenticationChallenge();
        });
        auto outcome = run(asked);
        EXPECT_EQ(outcome.succeeded, answering);
        EXPECT_EQ(seen, (std::vector<std::string>{std::string(kAuthenticationMethodHTTPDigest) + " lab 0"}));
        EXPECT_EQ(outcome.error ? outcome.error->code : 0, answering ? 0 : std::int64_t{URLErrorUserCancelledAuthentication});
    }
}

TEST_F(Operation, ReportsUploadProgressAndItsStartAndFinishOnTheMainQueue)
{
    server.serve("/up", "ok");
    NotificationCenter center;
    URLRequest request(server.url("/up"), 30.0);
    request.httpMethod = "POST";
    request.httpBody = Bytes(300000, 'b');
    auto upload = std::make_shared<HTTPRequestOperation>(dispatch, request);
    upload->setNotificationCenter(&center);
    std::vector<std::string> told;
    for (const char* name : {OperationDidStartNotification, OperationDidFinishNotification})
        center.addObserver(name, upload.get(), [&](const Notification& notification) {
            EXPECT_TRUE(loop.isMainThread());
            told.push_back(notification.name == OperationDidStartNotification ? "start" : "finish");
        });
    std::int64_t sent = 0, lastTotal = 0, expected = 0;
    bool onMain = true;
    upload->setUploadProgressBlock([&](std::uint64_t bytes, std::int64_t total, std::int64_t totalExpected) {
        onMain = onMain && loop.isMainThread();
        sent += static_cast<std::int64_t>(bytes);
        lastTotal = total;
        expected = totalExpected;
    });
    EXPECT_TRUE(run(upload).succeeded);
    loop.runUntil([&] { return told.size() == 2; });
    EXPECT_EQ(told, (std::vector<std::string>{"start", "finish"}));
    EXPECT_EQ(std::tuple(sent, lastTotal, expected, onMain), std::tuple(300000, 300000, 300000, true));
    EXPECT_EQ(server.requests("/up").front().body.size(), 300000u);
}

// A running operation cancelled ends at once with the cancel error; one paused tells it finished and stays
// paused, its request set to continue from the start.
TEST_F(Operation, CancellingOrPausingARunningOperationEndsItAtOnce)
{
    server.stall("/slow");
    NotificationCenter center;
    auto cancelled = operation(server.url("/slow")), paused = operation(server.url("/slow"));
    cancelled->setOutputStream(std::make_shared<FileOutputStream>((folder / "slow").string(), false));
    auto outcome = watch(cancelled);
    paused->setNotificationCenter(&center);
    int finished = 0;
    center.addObserver(OperationDidFinishNotification, paused.get(), [&](const Notification&) { ++finished; });
    cancelled->start();
    paused->start();
    EXPECT_TRUE(cancelled->isExecuting());
    ASSERT_TRUE(loop.runUntil([&] { return server.hits("/slow") == 2; }));
    cancelled->cancel();
    paused->pause();
    ASSERT_TRUE(loop.runUntil([&] { return outcome->done && finished == 1; }));
    EXPECT_FALSE(outcome->succeeded);
    EXPECT_EQ(outcome->error->code, URLErrorCancelled);
    EXPECT_TRUE(paused->isPaused());
    EXPECT_EQ(paused->request().valueForHTTPHeaderField("Range"), "bytes=0-");
    server.release();

    // The body stream is the request's.
    auto stream = std::make_shared<DataInputStream>(Bytes{'x'});
    paused->setInputStream(stream);
    EXPECT_EQ(paused->inputStream(), stream);
    EXPECT_EQ(paused->request().httpBodyStream, stream);
}

TEST_F(Operation, ACopyIsANewOperationOfItsClassSharingOnlyItsBlocksAndQueues)
{
    server.serve("/doc", "document", "text/plain");
    auto original = operation(server.url("/doc"));
    auto serializer = std::make_shared<HTTPResponseSerializer>();
    serializer->acceptableContentTypes = std::set<std::string>{"text/plain"};
    original->setResponseSerializer(serializer);
    platform::Queue& queue = dispatch.global(platform::Priority::Default);
    original->setCompletionQueue(&queue);
    auto group = std::make_shared<DispatchGroup>();
    original->setCompletionGroup(group);
    int downloads = 0;
    original->setDownloadProgressBlock([&](std::uint64_t, std::int64_t, std::int64_t) { ++downloads; });
    original->setCredential(URLCredential::credentialWithUser("u", "p"));
    original->setOutputStream(std::make_shared<FileOutputStream>((folder / "doc").string(), false));
    original->pause();

    auto copied = std::dynamic_pointer_cast<HTTPRequestOperation>(original->copy());
    ASSERT_TRUE(copied);
    EXPECT_TRUE(copied->isReady());
    EXPECT_EQ(copied->request().url, original->request().url);
    EXPECT_EQ(std::pair(copied->completionQueue(), copied->completionGroup()), std::pair(&queue, group));
    EXPECT_FALSE(copied->credential());
    EXPECT_NE(copied->responseSerializer(), serializer);
    EXPECT_EQ(copied->responseSerializer()->acceptableContentTypes, serializer->acceptableContentTypes);
    copied->setCompletionQueue(nullptr);
    EXPECT_TRUE(run(copied).succeeded);
    EXPECT_EQ(copied->responseString(), "document");
    EXPECT_EQ(downloads, 1);
    EXPECT_FALSE(std::filesystem::exists(folder / "doc") && std::filesystem::file_size(folder / "doc") > 0);
}

TEST_F(Operation, ABatchReportsEachCompletionAndEndsOnceAllHave)
{
    server.serve("/a", "a");
    server.serve("/b", "b");
    auto empty = URLConnectionOperation::batchOfRequestOperations(dispatch, {}, nullptr,
                                                                  [&](const auto& operations) { EXPECT_TRUE(operations.empty()); });
    EXPECT_TRUE(empty.operations.empty());
    bool emptyEnded = false;
    URLConnectionOperation::batchOfRequestOperations(dispatch, {}, nullptr, [&](const auto&) { emptyEnded = true; }).finalOperation();
    EXPECT_TRUE(loop.runUntil([&] { return emptyEnded; }));

    std::vector<std::string> log;
    std::vector<std::shared_ptr<URLConnectionOperation>> operations;
    for (const char* path : {"/a", "/b", "/missing"}) {
        auto made = operation(server.url(path));
        made->setCompletionBlockWithSuccess([&log, path](HTTPRequestOperation&, const std::any&) { log.push_back(std::string("done ") + path); },
                                            [&log, path](HTTPRequestOperation&, const Error&) { log.push_back(std::string("failed ") + path); });
        operations.push_back(made);
    }
    bool ended = false;
    auto batch = URLConnectionOperation::batchOfRequestOperations(
        dispatch, operations,
        [&log](std::size_t finished, std::size_t total) { log.push_back(std::to_string(finished) + "/" + std::to_string(total)); },
        [&](const std::vector<std::shared_ptr<URLConnectionOperation>>& done) {
            EXPECT_EQ(done.size(), 3u);
            log.push_back("all");
            ended = true;
        });
    ASSERT_EQ(batch.operations.size(), 3u);
    batch.finalOperation();
    for (auto& each : batch.operations) each->start();
    ASSERT_TRUE(loop.runUntil([&] { return ended; }));
    EXPECT_EQ(log.back(), "all");
    EXPECT_EQ(std::count(log.begin(), log.end(), "done /a") + std::count(log.begin(), log.end(), "done /b") +
                  std::count(log.begin(), log.end(), "failed /missing"), 3);
    std::vector<std::string> counts;
    std::copy_if(log.begin(), log.end(), std::back_inserter(counts), [](const auto& line) { return line.find('/') == 1; });
    // Every operation has finished by the last count.
    ASSERT_EQ(counts.size(), 3u);
    EXPECT_EQ(counts.back(), "3/3");
}
