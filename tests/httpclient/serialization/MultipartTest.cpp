#include <gtest/gtest.h>
#include <filesystem>

#include "support/httpclient/MultipartFixture.h"

using namespace support::multipart;

TEST(Multipart, BodiesHaveExactBytesAndLengthAndAnEmptyFormLeavesTheRequestAlone)
{
    TempFile file("PNGDATA");
    const std::string fieldA = "--" + B + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nx";
    const std::string fieldB = "\r\n--" + B + "\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\n2";
    const std::string end = "\r\n--" + B + "--\r\n";
    struct Case {
        std::optional<ParameterValue> parameters;
        std::function<void(MultipartFormData&)> block;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {ParameterDictionary{{"a", "x"}}, {}, fieldA + end},
        {ParameterDictionary{{"b", 2}, {"a", "x"}}, {}, fieldA + fieldB + end},
        {ParameterDictionary{{"n", nullptr}, {"d", Bytes{0, 1}}}, {},
         "--" + B + "\r\nContent-Disposition: form-data; name=\"d\"\r\n\r\n" + std::string("\0\1", 2) + "\r\n--" + B +
             "\r\nContent-Disposition: form-data; name=\"n\"\r\n\r\n" + end},
        {ParameterDictionary{{"a", "x"}},
         [&](MultipartFormData& form) {
             ASSERT_TRUE(form.appendPartWithFileURL("file://" + file.path, "f", nullptr));
             form.appendPartWithInputStream(std::make_shared<platform::DataInputStream>(bytes("0123456789")), "s", "s.bin", 4, "application/x-raw");
         },
         fieldA + "\r\n--" + B + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"" + file.path.substr(file.path.rfind('/') + 1) +
             "\"\r\nContent-Type: image/png\r\n\r\nPNGDATA\r\n--" + B +
             "\r\nContent-Disposition: form-data; name=\"s\"; filename=\"s.bin\"\r\nContent-Type: application/x-raw\r\n\r\n0123" + end},
    };
    for (const Case& c : cases) {
        for (std::size_t bufferSize : {1, 3, 7, 4096}) {
            URLRequest request = Form().build(c.parameters, c.block);
            ASSERT_TRUE(request.httpBodyStream);
            EXPECT_EQ(request.valueForHTTPHeaderField("Content-Type"), "multipart/form-data; boundary=" + B);
            EXPECT_EQ(request.valueForHTTPHeaderField("Content-Length"), std::to_string(c.expected.size()));
            const Drained drained = drain(*request.httpBodyStream, bufferSize);
            EXPECT_EQ(std::pair(drained.body, drained.lastRead), std::pair(c.expected, std::int64_t{0})) << bufferSize;
        }
    }
    Form form;
    URLRequest request = form.build(std::nullopt);
    EXPECT_FALSE(request.httpBodyStream || request.valueForHTTPHeaderField("Content-Length") || request.valueForHTTPHeaderField("Content-Type"));
    EXPECT_NO_THROW(form.serializer.multipartFormRequestWithMethod("get", "http://h/", std::nullopt, {}));
    for (const char* method : {"GET", "HEAD", ""})
        EXPECT_THROW(form.serializer.multipartFormRequestWithMethod(method, "http://h/", std::nullopt, {}), std::invalid_argument);
}

TEST(Multipart, ThrottledReadsAndCopiesGiveTheBodyAndFailingOrShortPartsFailIt)
{
    URLRequest request = Form().build(ParameterDictionary{{"a", std::string(50, 'x')}, {"b", "y"}}, [](MultipartFormData& data) {
        data.throttleBandwidthWithPacketSize(10, 0);
    });
    auto& stream = static_cast<MultipartBodyStream&>(*request.httpBodyStream);
    std::unique_ptr<MultipartBodyStream> copy = stream.copy();
    Drained throttled = drain(stream, 100);
    // The first part read fills the buffer past the packet size; the limit only stops further part reads.
    EXPECT_GT(throttled.counts.front(), 10);
    EXPECT_EQ(throttled.body.size(), stream.contentLength());
    EXPECT_EQ(drain(*copy, 5).body, throttled.body);
    stream.close();
    std::uint8_t byte;
    EXPECT_EQ(stream.read(&byte, 1), 0);
    const std::vector<std::pair<std::shared_ptr<platform::InputStream>, std::int64_t>> cases = {
        {std::make_shared<FailingStream>("abc"), 5},
        {std::make_shared<platform::DataInputStream>(bytes("abc")), URLRequestSerializationErrorIncompleteBody},
    };
    for (const auto& [part, code] : cases) {
        // A lambda cannot capture a structured binding under clang 14.
        const std::shared_ptr<platform::InputStream> stream = part;
        URLRequest request = Form().build(std::nullopt, [&](MultipartFormData& data) {
            data.appendPartWithInputStream(stream, "s", "s", 10, "text/plain");
            data.appendPartWithFormData(bytes("after"), "z");
        });
        Drained drained = drain(*request.httpBodyStream, 4);
        EXPECT_EQ(drained.lastRead, -1);
        EXPECT_EQ(drained.body.find("after"), std::string::npos);
        ASSERT_TRUE(request.httpBodyStream->streamError());
        EXPECT_EQ(request.httpBodyStream->streamError()->code, code);
        EXPECT_EQ(request.httpBodyStream->streamStatus(), platform::StreamStatus::Error);
    }
}

TEST(Multipart, FilePartsRefuseWhatIsNoReachableFile)
{
    Form().build(std::nullopt, [&](MultipartFormData& data) {
        // A folder is no file to send, whether its URL ends in a slash or not.
        const std::string folder = "file://" + std::filesystem::temp_directory_path().string();
        const std::vector<std::pair<std::string, std::string>> cases = {
            {"http://h/x.png", "Expected URL to be a file URL"},
            {"file:///nonexistent/x.png", "File URL not reachable."},
            {folder, ""},
            {folder + "/", ""}};
        for (const auto& [url, reason] : cases) {
            std::optional<platform::Error> error;
            EXPECT_FALSE(data.appendPartWithFileURL(url, "f", &error)) << url;
            ASSERT_TRUE(error) << url;
            if (!reason.empty()) { EXPECT_EQ(std::pair(error->code, error->description), std::pair(std::int64_t{-1000}, reason)); }
        }
        EXPECT_THROW(data.appendPartWithFileData({}, "", "f", "t/t"), std::invalid_argument);
        EXPECT_THROW(data.appendPartWithFileData({}, "n", "f", ""), std::invalid_argument);
        EXPECT_THROW(data.appendPartWithInputStream(nullptr, "n", "f", -1, "t/t"), std::invalid_argument);
    });
    EXPECT_EQ(ContentTypeForPathExtension("no-such-extension"), "application/octet-stream");
}

// A quote in a name is written as %22; a line break or NUL in a name, file name or header is refused where it
// is set, and a part holding one anyway fails the body before any of its headers are sent.
TEST(Multipart, NamesCannotAddHeadersToAPart)
{
    URLRequest quoted = Form().build(ParameterDictionary{{"a\"b", "x"}}, [](MultipartFormData& data) {
        data.appendPartWithFileData(bytes("D"), "f\"", "say \"hi\".txt", "text/plain");
    });
    const std::string body = drain(*quoted.httpBodyStream, 64).body;
    EXPECT_NE(body.find("Content-Disposition: form-data; name=\"a%22b\"\r\n"), std::string::npos) << body;
    EXPECT_NE(body.find("name=\"f%22\"; filename=\"say %22hi%22.txt\"\r\n"), std::string::npos) << body;
    EXPECT_EQ(quoted.valueForHTTPHeaderField("Content-Length"), std::to_string(body.size()));

    const std::string injected = "\r\nX-Injected: 1";
    const std::vector<std::pair<const char*, std::function<void(MultipartFormData&)>>> refused = {
        {"form field name", [&](MultipartFormData& d) { d.appendPartWithFormData(bytes("v"), "n\"" + injected); }},
        {"file part name", [&](MultipartFormData& d) { d.appendPartWithFileData({}, "n\n", "f.txt", "text/plain"); }},
        {"file name", [&](MultipartFormData& d) { d.appendPartWithFileData({}, "n", "f\".txt" + injected, "text/plain"); }},
        {"NUL in a file name", [&](MultipartFormData& d) { d.appendPartWithFileData({}, "n", std::string("f\0.txt", 6), "t/t"); }},
        {"MIME type", [&](MultipartFormData& d) { d.appendPartWithFileData({}, "n", "f.txt", "text/plain" + injected); }},
        {"stream part name",
         [&](MultipartFormData& d) { d.appendPartWithInputStream(std::make_shared<platform::DataInputStream>(bytes("x")), "n\r", "f", 1, "t/t"); }},
        {"file URL part name", [&](MultipartFormData& d) { d.appendPartWithFileURL("file:///etc/hostname", "n\n", "h", "t/t", nullptr); }},
        {"own header", [&](MultipartFormData& d) { d.appendPartWithHeaders({{"X-Note", "a" + injected}}, {}); }},
    };
    for (const auto& [what, block] : refused) EXPECT_THROW(Form().build(std::nullopt, block), std::invalid_argument) << what;

    // A file whose own name on disk holds a quote and a line break fails its part with the error set.
    const std::filesystem::path odd = std::filesystem::path(::testing::TempDir()) / ("x\".png" + injected);
    std::ofstream(odd) << "PNG";
    Form form;
    std::optional<platform::Error> error;
    URLRequest request = form.build(std::nullopt, [&](MultipartFormData& data) {
        EXPECT_FALSE(data.appendPartWithFileURL("file://" + odd.string(), "f", &error));
        data.appendPartWithFormData(bytes("v"), "kept");
    });
    std::filesystem::remove(odd);
    EXPECT_EQ(error ? error->code : 0, URLRequestSerializationErrorUnencodable);
    EXPECT_EQ(drain(*request.httpBodyStream, 64).body.find("X-Injected"), std::string::npos);

    // A form parameter's name, which the caller may have from outside, is refused with the error set, never
    // thrown: one holding a line break, and an empty one.
    for (const std::string& name : {"a" + injected, std::string()}) {
        std::optional<platform::Error> parameterError;
        EXPECT_FALSE(form.serializer.multipartFormRequestWithMethod("POST", "http://h/up", ParameterDictionary{{name, "x"}}, {}, &parameterError));
        EXPECT_EQ(parameterError ? parameterError->code : 0, URLRequestSerializationErrorUnencodable) << name;
    }

    // A part made past the form's checks fails the body at its headers.
    MultipartBodyStream stream("UTF-8");
    for (const std::string& name : {std::string("ok"), "n\"" + injected})
        stream.appendHTTPBodyPart(
            std::make_unique<HTTPBodyPart>("UTF-8", HeaderFields{{"Content-Disposition", "form-data; name=\"" + name + "\""}}, B, bytes("1"), 1));
    stream.setInitialAndFinalBoundaries();
    const Drained drained = drain(stream, 7);
    EXPECT_EQ(drained.lastRead, -1);
    EXPECT_EQ(drained.body.find("X-Injected"), std::string::npos) << drained.body;
    EXPECT_EQ(stream.streamError() ? stream.streamError()->code : 0, URLRequestSerializationErrorUnencodable);
}

TEST(Multipart, WritesTheWholeBodyIntoAFile)
{
    platform::RunLoop loop;
    platform::Dispatch dispatch(loop);
    TempFile target("");
    for (bool failing : {false, true}) {
        Form form;
        URLRequest request = form.build(ParameterDictionary{{"a", "x"}}, [&](MultipartFormData& data) {
            if (failing) data.appendPartWithInputStream(std::make_shared<FailingStream>("abc"), "s", "s", 9, "t/t");
        });
        const std::string length = *request.valueForHTTPHeaderField("Content-Length");
        std::optional<std::optional<platform::Error>> outcome;
        URLRequest upload = form.serializer.requestWithMultipartFormRequest(dispatch, request, "file://" + target.path,
                                                                            [&](std::optional<platform::Error> error) { outcome = error; });
        EXPECT_FALSE(upload.httpBodyStream);
        EXPECT_EQ(upload.valueForHTTPHeaderField("Content-Length"), length);
        loop.runUntil([&] { return outcome.has_value(); });
        ASSERT_TRUE(outcome);
        EXPECT_EQ(*outcome ? (*outcome)->code : 0, failing ? 5 : 0);
        if (!failing) { EXPECT_EQ(std::to_string(target.read().size()), length); }
    }
    Form form;
    URLRequest request = form.build(ParameterDictionary{{"a", "x"}});
    EXPECT_THROW(form.serializer.requestWithMultipartFormRequest(dispatch, request, "http://h/f", {}), std::invalid_argument);
    EXPECT_THROW(form.serializer.requestWithMultipartFormRequest(dispatch, URLRequest("http://h/"), "file:///tmp/f", {}), std::invalid_argument);
}

TEST(MimeTypeTable, ReadsGlobsWithWeightsAndCase)
{
    const std::string path = ::testing::TempDir() + "rig-globs2-" + std::to_string(::getpid());
    std::ofstream(path) << "# comment\n50:text/x-low:*.dup\n80:text/x-high:*.dup\n50:text/x-c++src:*.C:cs\n"
                           "50:text/x-csrc:*.c\n50:text/x-wild:*.a*b\n";
    platform::MimeTypeTable table = platform::MimeTypeTable::load({"/nonexistent/globs2", path});
    std::remove(path.c_str());
    EXPECT_FALSE(table.isBuiltIn());
    EXPECT_EQ(table.preferredTypeForExtension("DUP"), "text/x-high");
    EXPECT_EQ(table.preferredTypeForExtension("C"), "text/x-c++src");
    EXPECT_EQ(table.preferredTypeForExtension("c"), "text/x-csrc");
    EXPECT_EQ(table.preferredTypeForExtension("a*b"), std::nullopt);
    platform::MimeTypeTable fallback = platform::MimeTypeTable::load({"/nonexistent/globs2"});
    EXPECT_TRUE(fallback.isBuiltIn());
    EXPECT_EQ(fallback.preferredTypeForExtension("PNG"), "image/png");
}
