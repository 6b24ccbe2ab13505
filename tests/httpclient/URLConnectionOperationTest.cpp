#include <gtest/gtest.h>

#include "support/server/HttpFixture.h"
#include "platform/url/FileOutputStream.h"
#include "platform/url/MemoryOutputStream.h"
#include "platform/url/URLError.h"

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
