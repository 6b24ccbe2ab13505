#include <gtest/gtest.h>

#include "platform/notifications/NotificationCenter.h"
#include "platform/url/DataInputStream.h"
#include "platform/url/MemoryOutputStream.h"
#include "platform/url/NetworkThread.h"
#include "support/httpclient/RefusingStream.h"

#include <algorithm>
#include <set>

using namespace support::refusingstream;

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
    // The outcome of an operation on the server's path, its body written to the stream when one is given.
    std::pair<std::shared_ptr<HTTPRequestOperation>, Outcome> ran(const std::string& path, std::shared_ptr<OutputStream> stream = nullptr)
    {
        auto made = operation(server.url(path));
        if (stream) made->setOutputStream(stream);
        const Outcome outcome = run(made);
        return {made, outcome};
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
// the block's, else none once cancelled; a missing response serializer is refused.
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
    EXPECT_THROW(unstarted->setResponseSerializer(nullptr), std::invalid_argument);
    EXPECT_TRUE(unstarted->responseSerializer());

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

// A body in memory is taken whole from its stream at the end, read in its text encoding; an announced
// length is only the server's word, so one announcing a terabyte and sending a kilobyte fails as cut, for an
// unbounded stream and for one bounded below the announcement alike.
TEST_F(Operation, AMemoryBodyIsHandedOverWholeAndAnAnnouncedLengthIsNotTrusted)
{
    server.serve("/latin", LoopbackServer::Reply{200, "text/plain; charset=iso-8859-1", "caf\xe9", {}});
    server.serve("/odd", LoopbackServer::Reply{200, "text/plain; charset=no-such-set", "plain", {}});
    auto [latin, outcome] = ran("/latin");
    ASSERT_TRUE(outcome.succeeded);
    EXPECT_EQ(std::any_cast<Bytes>(outcome.object), (Bytes{'c', 'a', 'f', 0xe9}));
    EXPECT_EQ(latin->responseStringEncoding(), "iso-8859-1");
    EXPECT_EQ(latin->responseString(), "caf\xc3\xa9");
    EXPECT_EQ(ran("/odd").first->responseStringEncoding(), "UTF-8");
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

TEST_F(Operation, TheChallengeAndRedirectBlocksSeeWhatTheyDecideAndCanRefuseIt)
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
    // A redirect is followed unless the redirect block refuses it.
    server.redirect("/qfx_url/old.zip", "/qfx_url/new.zip");
    server.serve("/qfx_url/new.zip", "zipdata");
    auto [followed, outcome] = ran("/qfx_url/old.zip");
    ASSERT_TRUE(outcome.succeeded);
    EXPECT_EQ(followed->response()->url, server.url("/qfx_url/new.zip"));
    auto refused = operation(server.url("/qfx_url/old.zip"));
    refused->setRedirectResponseBlock([](URLConnection&, const URLRequest&, const URLResponse&) { return std::nullopt; });
    ASSERT_FALSE(run(refused).succeeded);
    EXPECT_EQ(refused->response()->statusCode, 302);
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

TEST_F(Operation, DownloadsIntoAFileReportingSuccessOnTheMainQueueAndAFailedWriteCancelsTheTransfer)
{
    std::string body(1 << 20, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7);
    server.serve("/effect.zip", body, "application/zip");
    auto download = operation(server.url("/effect.zip"));
    auto stream = std::make_shared<FileOutputStream>((folder / "effect.zip").string(), false);
    download->setOutputStream(stream);
    std::int64_t progressTotal = 0;
    download->setDownloadProgressBlock([&](std::uint64_t, std::int64_t total, std::int64_t expected) {
        progressTotal = total;
        EXPECT_EQ(expected, 1 << 20);
    });
    auto outcome = run(download);
    ASSERT_TRUE(outcome.succeeded) << outcome.error->describe();
    EXPECT_TRUE(outcome.ranOnMain);
    EXPECT_FALSE(outcome.object.has_value() || download->responseData());  // the body went to the file
    EXPECT_EQ(download->outputStream(), stream);
    EXPECT_EQ(readFile(folder / "effect.zip"), body);
    EXPECT_EQ(std::pair(download->totalBytesRead(), progressTotal), std::pair(std::int64_t{1 << 20}, std::int64_t{1 << 20}));
    EXPECT_TRUE(download->isFinished());
    // A refused write stops the transfer at once (not pushing the rest of the body at the stream) and fails it
    // with the stream's error, else with its own.
    server.serve("/big.zip", std::string(4 << 20, 'b'));
    auto refusing = std::make_shared<RefusingStream>(100000);
    outcome = ran("/big.zip", refusing).second;
    ASSERT_FALSE(outcome.succeeded);
    EXPECT_EQ(std::pair(outcome.error->domain, outcome.error->code), std::pair(std::string(kPOSIXErrorDomain), std::int64_t{ENOSPC}));
    EXPECT_LE(refusing->writes, 10);
    EXPECT_GE(refusing->closes, 1);

    auto silent = std::make_shared<RefusingStream>(0, false);
    outcome = ran("/big.zip", silent).second;
    ASSERT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.error->code, URLErrorCannotWriteToFile);
    EXPECT_EQ(silent->writes, 1);

    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    outcome = ran("/big.zip", std::make_shared<FileOutputStream>("/dev/full", false)).second;
    ASSERT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.error->code, ENOSPC);
}

// A refused status or content type reaches the failure block on the main queue with its reason; a wrong
// type fails even with an empty body.
TEST_F(Operation, RefusedStatusOrContentTypeReachesTheFailureBlockWithItsReason)
{
    auto [missing, refused] = ran("/missing.zip", std::make_shared<FileOutputStream>((folder / "missing.zip").string(), false));
    ASSERT_TRUE(!refused.succeeded && refused.error);
    EXPECT_TRUE(refused.ranOnMain);
    EXPECT_EQ(std::tuple(refused.error->domain, refused.error->code, refused.error->description),
              std::tuple(URLResponseSerializationErrorDomain, -1011, "Request failed: not found (404)"));
    EXPECT_EQ(refused.error->info(kURLErrorFailingURLErrorKey), server.url("/missing.zip"));
    EXPECT_EQ(refused.error->userInfo.count(URLResponseSerializationFailingDataErrorKey), 0u);
    EXPECT_EQ(missing->responseSerializationError()->code, -1011);

    server.serve("/empty", LoopbackServer::Reply{200, "text/html", "", {}});
    server.serve("/both", LoopbackServer::Reply{500, "text/html", "oops", {}});
    auto serializer = HTTPResponseSerializer::serializer();
    serializer->acceptableContentTypes = std::set<std::string>{"application/json"};
    auto empty = operation(server.url("/empty"));
    empty->setResponseSerializer(serializer);
    auto outcome = run(empty);
    ASSERT_FALSE(outcome.succeeded);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(std::pair(outcome.error->code, outcome.error->description),
              std::pair(std::int64_t{-1016}, std::string("Request failed: unacceptable content-type: text/html")));

    auto both = operation(server.url("/both"));
    both->setResponseSerializer(serializer);
    outcome = run(both);
    ASSERT_TRUE(outcome.error && outcome.error->underlying);
    EXPECT_EQ(std::pair(outcome.error->code, outcome.error->underlying->code), std::pair(std::int64_t{-1011}, std::int64_t{-1016}));
    EXPECT_EQ(outcome.error->info(URLResponseSerializationFailingDataErrorKey), "oops");
    // A new serializer validates again.
    both->setResponseSerializer(HTTPResponseSerializer::serializer());
    EXPECT_FALSE(both->responseSerializationError());
    both->responseObject();
    ASSERT_TRUE(both->error());
    EXPECT_EQ(both->error()->code, -1011);
    EXPECT_FALSE(both->error()->underlying);
}

TEST(HTTPResponseSerializer, StatusCodesAndNonHttpResponses)
{
    HTTPResponseSerializer serializer;
    URLResponse response;
    response.url = "http://127.0.0.1/x";
    std::optional<Error> error;
    const auto valid = [&](std::int64_t status) {
        response.statusCode = status;
        return serializer.validateResponse(&response, std::nullopt, &error);
    };
    EXPECT_TRUE(valid(299));
    EXPECT_FALSE(valid(300));
    EXPECT_EQ(error->description, "Request failed: redirected (300)");
    serializer.acceptableStatusCodes.reset();
    EXPECT_TRUE(valid(300));
    serializer.acceptableStatusCodes = std::set<std::int64_t>{};
    EXPECT_FALSE(valid(200));
    URLResponse file;
    file.isHTTP = false;
    EXPECT_TRUE(serializer.validateResponse(&file, std::nullopt, &error));

    auto chained = ErrorWithUnderlyingError(Error::make("a", 1, "top"), Error::make("b", 2, "below"));
    EXPECT_EQ(chained->underlying->domain, "b");
    EXPECT_EQ(ErrorWithUnderlyingError(std::nullopt, Error::make("b", 2, "x"))->domain, "b");
    EXPECT_EQ(ErrorWithUnderlyingError(chained, Error::make("c", 3, "x"))->underlying->domain, "b");
}

TEST(HTTPResponseSerializer, ErrorTextsComeFromTheLayersOwnTable)
{
    const std::string statusFormat = "Request failed: %@ (%ld)";
    const std::string typeFormat = "Request failed: unacceptable content-type: %@";
    const Localizer english = loadHTTPClientTexts(Bundle::main(), "en");
    EXPECT_EQ(std::pair(english.text(statusFormat), english.text(typeFormat)), std::pair(statusFormat, typeFormat));
    // Every translation keeps its arguments, in order.
    const Localizer japanese = loadHTTPClientTexts(Bundle::main(), "ja");
    ASSERT_NE(japanese.text(statusFormat), statusFormat);
    ASSERT_NE(japanese.text(typeFormat), typeFormat);
    EXPECT_NE(StringFormat::format(japanese.text(statusFormat), {"not found", 404}).find("not found (404)"), std::string::npos);
    EXPECT_NE(StringFormat::format(japanese.text(typeFormat), {"text/html"}).find("text/html"), std::string::npos);
    // The serializer speaks the interface language. The texts load once per process, so the check runs
    // in a fresh one.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("LC_ALL", "ja_JP.UTF-8", 1);
            HTTPResponseSerializer serializer;
            URLResponse response;
            response.url = "http://127.0.0.1/x";
            response.statusCode = 404;
            std::optional<Error> error;
            serializer.validateResponse(&response, std::nullopt, &error);
            std::exit(error && error->description == StringFormat::format(japanese.text(statusFormat), {"not found", 404}) ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// As the program ends its network thread halts and never runs an operation started after that: the
// operation, its blocks and whatever they hold must go once nobody else holds them, not keep each other.
TEST_F(Operation, AnOperationTheHaltedNetworkNeverRunsGoesWithItsBlocks)
{
    server.serve("/catalogue.json", "{}", "application/json");
    platform::NetworkThread thread("test.halted");
    thread.halt();
    std::weak_ptr<HttpFixture::Outcome> watched;
    std::weak_ptr<HTTPRequestOperation> operationWatched;
    {
        auto never = std::make_shared<HTTPRequestOperation>(dispatch, platform::URLRequest(server.url("/catalogue.json"), 30.0), thread);
        watched = watch(never);
        operationWatched = never;
        never->start();
    }
    dispatch.waitUntilIdle();
    loop.runUntilIdle();
    EXPECT_TRUE(operationWatched.expired()) << "the operation keeps itself alive through its completion";
    EXPECT_TRUE(watched.expired()) << "the blocks' captures outlive the operation";
    EXPECT_EQ(server.hits("/catalogue.json"), 0);
}
