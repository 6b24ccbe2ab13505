#include <gtest/gtest.h>

#include "platform/url/NetworkThread.h"
#include "support/httpclient/RefusingStream.h"

using namespace support::refusingstream;

namespace {

struct RequestOperation : HttpFixture, ::testing::Test {
    LoopbackServer server;
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

TEST_F(RequestOperation, DownloadsIntoAFileAndReportsSuccessOnTheMainQueue)
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
}

TEST_F(RequestOperation, InMemoryBodyAndTextEncoding)
{
    server.serve("/latin", LoopbackServer::Reply{200, "text/plain; charset=iso-8859-1", "caf\xe9", {}});
    server.serve("/odd", LoopbackServer::Reply{200, "text/plain; charset=no-such-set", "plain", {}});
    auto [latin, outcome] = ran("/latin");
    ASSERT_TRUE(outcome.succeeded);
    EXPECT_EQ(std::any_cast<Bytes>(outcome.object), (Bytes{'c', 'a', 'f', 0xe9}));
    EXPECT_EQ(latin->responseStringEncoding(), "iso-8859-1");
    EXPECT_EQ(latin->responseString(), "caf\xc3\xa9");
    EXPECT_EQ(ran("/odd").first->responseStringEncoding(), "UTF-8");
}

TEST_F(RequestOperation, RefusedStatusReachesTheFailureBlockWithItsReason)
{
    auto [missing, outcome] = ran("/missing.zip", std::make_shared<FileOutputStream>((folder / "missing.zip").string(), false));
    ASSERT_FALSE(outcome.succeeded);
    ASSERT_TRUE(outcome.error);
    EXPECT_TRUE(outcome.ranOnMain);
    EXPECT_EQ(std::tuple(outcome.error->domain, outcome.error->code, outcome.error->description),
              std::tuple(URLResponseSerializationErrorDomain, -1011, "Request failed: not found (404)"));
    EXPECT_EQ(outcome.error->info(kURLErrorFailingURLErrorKey), server.url("/missing.zip"));
    EXPECT_EQ(outcome.error->userInfo.count(URLResponseSerializationFailingDataErrorKey), 0u);
    EXPECT_EQ(missing->responseSerializationError()->code, -1011);
}

TEST_F(RequestOperation, WrongContentTypeFailsEvenWithAnEmptyBody)
{
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

// A refused write stops the transfer at once (not pushing the rest of the body at the stream) and fails it
// with the stream's error, else with its own.
TEST_F(RequestOperation, FailedWritesCancelTheTransferWithTheStreamError)
{
    server.serve("/big.zip", std::string(4 << 20, 'b'));
    auto refusing = std::make_shared<RefusingStream>(100000);
    auto outcome = ran("/big.zip", refusing).second;
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

TEST_F(RequestOperation, RedirectsFollowedOrRefusedByTheBlock)
{
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

// As the program ends its network thread halts and never runs an operation started after that: the
// operation, its blocks and whatever they hold must go once nobody else holds them, not keep each other.
TEST_F(RequestOperation, AnOperationTheHaltedNetworkNeverRunsGoesWithItsBlocks)
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
