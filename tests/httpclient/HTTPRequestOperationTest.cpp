#include <gtest/gtest.h>

#include "platform/url/NetworkThread.h"
#include "support/httpclient/RefusingStream.h"

using namespace support::refusingstream;

TEST(HTTPRequestOperation, DownloadsIntoAFileAndReportsSuccessOnTheMainQueue)
{
    HttpFixture fixture;
    LoopbackServer server;
    std::string body(1 << 20, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7);
    server.serve("/effect.zip", body, "application/zip");

    auto operation = fixture.operation(server.url("/effect.zip"));
    auto stream = std::make_shared<FileOutputStream>((fixture.folder / "effect.zip").string(), false);
    operation->setOutputStream(stream);
    std::int64_t progressTotal = 0;
    operation->setDownloadProgressBlock([&](std::uint64_t, std::int64_t total, std::int64_t expected) {
        progressTotal = total;
        EXPECT_EQ(expected, 1 << 20);
    });
    auto outcome = fixture.run(operation);

    ASSERT_TRUE(outcome.succeeded) << outcome.error->describe();
    EXPECT_TRUE(outcome.ranOnMain);
    EXPECT_FALSE(outcome.object.has_value());  // the body went to the file
    EXPECT_FALSE(operation->responseData());
    EXPECT_EQ(operation->outputStream(), stream);
    EXPECT_EQ(readFile(fixture.folder / "effect.zip"), body);
    EXPECT_EQ(operation->totalBytesRead(), 1 << 20);
    EXPECT_EQ(progressTotal, 1 << 20);
    EXPECT_TRUE(operation->isFinished());
}

TEST(HTTPRequestOperation, InMemoryBodyAndTextEncoding)
{
    HttpFixture fixture;
    LoopbackServer server;
    server.serve("/latin", LoopbackServer::Reply{200, "text/plain; charset=iso-8859-1", "caf\xe9", {}});
    server.serve("/odd", LoopbackServer::Reply{200, "text/plain; charset=no-such-set", "plain", {}});

    auto latin = fixture.operation(server.url("/latin"));
    auto outcome = fixture.run(latin);
    ASSERT_TRUE(outcome.succeeded);
    EXPECT_EQ(std::any_cast<Bytes>(outcome.object), (Bytes{'c', 'a', 'f', 0xe9}));
    EXPECT_EQ(latin->responseStringEncoding(), "iso-8859-1");
    EXPECT_EQ(latin->responseString(), "caf\xc3\xa9");

    auto odd = fixture.operation(server.url("/odd"));
    fixture.run(odd);
    EXPECT_EQ(odd->responseStringEncoding(), "UTF-8");
}

TEST(HTTPRequestOperation, RefusedStatusReachesTheFailureBlockWithItsReason)
{
    HttpFixture fixture;
    LoopbackServer server;
    auto operation = fixture.operation(server.url("/missing.zip"));
    operation->setOutputStream(std::make_shared<FileOutputStream>((fixture.folder / "missing.zip").string(), false));
    auto outcome = fixture.run(operation);

    ASSERT_FALSE(outcome.succeeded);
    ASSERT_TRUE(outcome.error);
    EXPECT_TRUE(outcome.ranOnMain);
    EXPECT_EQ(outcome.error->domain, URLResponseSerializationErrorDomain);
    EXPECT_EQ(outcome.error->code, -1011);
    EXPECT_EQ(outcome.error->description, "Request failed: not found (404)");
    EXPECT_EQ(outcome.error->info(kURLErrorFailingURLErrorKey), server.url("/missing.zip"));
    EXPECT_EQ(outcome.error->userInfo.count(URLResponseSerializationFailingDataErrorKey), 0u);
    EXPECT_EQ(operation->responseSerializationError()->code, -1011);
}

TEST(HTTPRequestOperation, WrongContentTypeFailsEvenWithAnEmptyBody)
{
    HttpFixture fixture;
    LoopbackServer server;
    server.serve("/empty", LoopbackServer::Reply{200, "text/html", "", {}});
    server.serve("/both", LoopbackServer::Reply{500, "text/html", "oops", {}});

    auto serializer = HTTPResponseSerializer::serializer();
    serializer->acceptableContentTypes = std::set<std::string>{"application/json"};
    auto empty = fixture.operation(server.url("/empty"));
    empty->setResponseSerializer(serializer);
    auto outcome = fixture.run(empty);
    ASSERT_FALSE(outcome.succeeded);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code, -1016);
    EXPECT_EQ(outcome.error->description, "Request failed: unacceptable content-type: text/html");

    auto both = fixture.operation(server.url("/both"));
    both->setResponseSerializer(serializer);
    outcome = fixture.run(both);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code, -1011);
    ASSERT_TRUE(outcome.error->underlying);
    EXPECT_EQ(outcome.error->underlying->code, -1016);
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
    response.statusCode = 299;
    EXPECT_TRUE(serializer.validateResponse(&response, std::nullopt, &error));
    response.statusCode = 300;
    EXPECT_FALSE(serializer.validateResponse(&response, std::nullopt, &error));
    EXPECT_EQ(error->description, "Request failed: redirected (300)");
    serializer.acceptableStatusCodes.reset();
    EXPECT_TRUE(serializer.validateResponse(&response, std::nullopt, &error));
    serializer.acceptableStatusCodes = std::set<std::int64_t>{};
    response.statusCode = 200;
    EXPECT_FALSE(serializer.validateResponse(&response, std::nullopt, &error));
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
    const Bundle bundle = Bundle::main();
    const Localizer english = loadHTTPClientTexts(bundle, "en");
    EXPECT_EQ(english.text(statusFormat), statusFormat);
    EXPECT_EQ(english.text(typeFormat), typeFormat);

    // Every translation keeps its arguments, in order.
    const Localizer japanese = loadHTTPClientTexts(bundle, "ja");
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

TEST(HTTPRequestOperation, FailedWritesCancelTheTransferWithTheStreamError)
{
    HttpFixture fixture;
    LoopbackServer server;
    server.serve("/big.zip", std::string(4 << 20, 'b'));

    auto refusing = std::make_shared<RefusingStream>(100000);
    auto operation = fixture.operation(server.url("/big.zip"));
    operation->setOutputStream(refusing);
    auto outcome = fixture.run(operation);
    ASSERT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.error->domain, kPOSIXErrorDomain);
    EXPECT_EQ(outcome.error->code, ENOSPC);
    // The transfer stopped at the first refusal rather than pushing the rest of the body at the stream.
    EXPECT_LE(refusing->writes, 10);
    EXPECT_GE(refusing->closes, 1);

    auto silent = std::make_shared<RefusingStream>(0);
    silent->failWithoutError();
    auto stuck = fixture.operation(server.url("/big.zip"));
    stuck->setOutputStream(silent);
    outcome = fixture.run(stuck);
    ASSERT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.error->code, URLErrorCannotWriteToFile);
    EXPECT_EQ(silent->writes, 1);

    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    auto full = fixture.operation(server.url("/big.zip"));
    full->setOutputStream(std::make_shared<FileOutputStream>("/dev/full", false));
    outcome = fixture.run(full);
    ASSERT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.error->code, ENOSPC);
}

TEST(HTTPRequestOperation, RedirectsFollowedOrRefusedByTheBlock)
{
    HttpFixture fixture;
    LoopbackServer server;
    server.redirect("/qfx_url/old.zip", "/qfx_url/new.zip");
    server.serve("/qfx_url/new.zip", "zipdata");

    auto followed = fixture.operation(server.url("/qfx_url/old.zip"));
    auto outcome = fixture.run(followed);
    ASSERT_TRUE(outcome.succeeded);
    EXPECT_EQ(followed->response()->url, server.url("/qfx_url/new.zip"));

    auto refused = fixture.operation(server.url("/qfx_url/old.zip"));
    refused->setRedirectResponseBlock([](URLConnection&, const URLRequest&, const URLResponse&) { return std::nullopt; });
    outcome = fixture.run(refused);
    ASSERT_FALSE(outcome.succeeded);
    EXPECT_EQ(refused->response()->statusCode, 302);
}

// As the program ends its network thread halts and never runs an operation started after that: the
// operation, its blocks and whatever they hold must go once nobody else holds them, not keep each other.
TEST(HTTPRequestOperation, AnOperationTheHaltedNetworkNeverRunsGoesWithItsBlocks)
{
    HttpFixture fixture;
    LoopbackServer server;
    server.serve("/catalogue.json", "{}", "application/json");
    platform::NetworkThread thread("test.halted");
    thread.halt();
    std::weak_ptr<HttpFixture::Outcome> watched;
    std::weak_ptr<HTTPRequestOperation> operationWatched;
    {
        auto operation = std::make_shared<HTTPRequestOperation>(
            fixture.dispatch, platform::URLRequest(server.url("/catalogue.json"), 30.0), thread);
        auto outcome = fixture.watch(operation);
        watched = outcome;
        operationWatched = operation;
        operation->start();
    }
    fixture.dispatch.waitUntilIdle();
    fixture.loop.runUntilIdle();
    EXPECT_TRUE(operationWatched.expired()) << "the operation keeps itself alive through its completion";
    EXPECT_TRUE(watched.expired()) << "the blocks' captures outlive the operation";
    EXPECT_EQ(server.hits("/catalogue.json"), 0);
}
