#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "httpclient/serialization/JSONRequestSerializer.h"
#include "httpclient/serialization/PropertyListRequestSerializer.h"
#include "httpclient/serialization/QueryStringPair.h"
#include "platform/plist/PropertyList.h"
#include "platform/url/DataInputStream.h"

using platform::URLRequest;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

namespace {

platform::ProcessInfo process(std::vector<std::string> languages = {"en"}, std::string name = "Rigmora")
{
    platform::ProcessInfo info;
    info.preferredLanguages = std::move(languages);
    info.executableName = std::move(name);
    info.bundleIdentifier = "org.example.rig";
    info.shortVersion = "1.2";
    info.operatingSystemVersion = "6.1.0";
    return info;
}

std::string body(const URLRequest& request)
{
    return request.httpBody ? std::string(request.httpBody->begin(), request.httpBody->end()) : "<none>";
}

std::string header(const URLRequest& request, const std::string& field)
{
    return request.valueForHTTPHeaderField(field).value_or("<none>");
}

}  // namespace

TEST(QueryString, BuildsExactBytes)
{
    const std::vector<std::pair<ParameterValue, std::string>> cases = {
        {ParameterDictionary{{"b", 2}, {"a", 1}}, "a=1&b=2"},
        {ParameterDictionary{{"a", 1}, {"Z", 2}}, "Z=2&a=1"},
        {ParameterDictionary{{"user", ParameterDictionary{{"name", "x"}, {"age", 3}}}}, "user[age]=3&user[name]=x"},
        {ParameterDictionary{{"ids", ParameterArray{3, 1}}}, "ids[]=3&ids[]=1"},
        {ParameterDictionary{{"s", ParameterValue::Set{{2, 1}}}}, "s=1&s=2"},
        {ParameterDictionary{{"items", ParameterArray{ParameterDictionary{{"n", 1}}}}}, "items[][n]=1"},
        {ParameterDictionary{{"k", nullptr}, {"v", "x"}}, "k&v=x"},
        {ParameterDictionary{{"v", "a b&c=d/\xC3\xA9"}}, "v=a%20b%26c%3Dd%2F%C3%A9"},
        {ParameterDictionary{{"v", "100%:/?&=;+!@#$()',*-_.~"}}, "v=100%25%3A%2F%3F%26%3D%3B%2B%21%40%23%24%28%29%27%2C%2A-_.~"},
        {ParameterDictionary{{"a.b c", "1"}}, "a.b%20c=1"},
        {ParameterDictionary{{"t", true}, {"r", 0.5}, {"d", std::vector<std::uint8_t>{1, 2, 3, 4, 5}}},
         "d=%3C01020304%2005%3E&r=0.5&t=1"},
        {ParameterDictionary{}, ""},
    };
    for (const auto& [parameters, query] : cases) EXPECT_EQ(QueryStringFromParametersWithEncoding(parameters, "UTF-8"), query) << query;
    EXPECT_EQ(QueryStringFromParametersWithEncoding(ParameterDictionary{{"v", "\xC3\xA9"}}, "ISO-8859-1"), "v=%E9");
    EXPECT_EQ(QueryStringFromParametersWithEncoding(ParameterDictionary{{"v", "\xE6\x97\xA5"}}, "ISO-8859-1"), std::nullopt);
    EXPECT_EQ(Base64EncodedStringFromString("user:pa"), "dXNlcjpwYQ==");
}

TEST(HTTPRequestSerializer, PutsParametersIntoURIOrBody)
{
    struct Case {
        std::string method, url;
        std::optional<ParameterValue> parameters;
        std::string expectedURL, expectedBody, contentType;
    };
    const ParameterDictionary ab{{"b", 2}, {"a", 1}};
    const std::vector<Case> cases = {
        {"GET", "http://h/p", ab, "http://h/p?a=1&b=2", "<none>", "<none>"},
        {"GET", "http://h/p?x=0", ab, "http://h/p?x=0&a=1&b=2", "<none>", "<none>"},
        {"get", "http://h/p", ab, "http://h/p?a=1&b=2", "<none>", "<none>"},
        {"DELETE", "http://h/p#top", ab, "http://h/p?a=1&b=2#top", "<none>", "<none>"},
        {"GET", "http://h/p", ParameterDictionary{}, "http://h/p?", "<none>", "<none>"},
        {"GET", "http://h/p", std::nullopt, "http://h/p", "<none>", "<none>"},
        {"POST", "http://h/p", ab, "http://h/p", "a=1&b=2", "application/x-www-form-urlencoded"},
        {"POST", "http://h/p", ParameterDictionary{}, "http://h/p", "", "application/x-www-form-urlencoded"},
        {"PUT", "http://h/p", std::nullopt, "http://h/p", "<none>", "<none>"},
    };
    HTTPRequestSerializer serializer(process());
    for (const Case& c : cases) {
        std::optional<URLRequest> request = serializer.requestWithMethod(c.method, c.url, c.parameters);
        ASSERT_TRUE(request) << c.method << " " << c.url;
        EXPECT_EQ(std::tuple(request->httpMethod, request->url, body(*request), header(*request, "Content-Type")),
                  std::tuple(c.method, c.expectedURL, c.expectedBody, c.contentType));
    }
}

TEST(HTTPRequestSerializer, DefaultHeadersComeFromTheProcessAndNeverOverrideTheRequestsOwn)
{
    HTTPRequestSerializer serializer(process({"de-DE", "ja"}));
    EXPECT_EQ(serializer.valueForHTTPHeaderField("Accept-Language"), "de-DE;q=1, ja;q=0.9");
    EXPECT_EQ(serializer.valueForHTTPHeaderField("User-Agent"), "Rigmora/1.2 (Linux 6.1.0)");
    serializer.setAuthorizationHeaderFieldWithUsername("user", "pa");
    URLRequest own("http://h/");
    own.httpMethod = "POST";
    own.headerFields = {{"content-type", "text/plain"}, {"user-agent", "mine"}};
    std::optional<URLRequest> request = serializer.requestBySerializingRequest(own, ParameterDictionary{{"a", 1}}, nullptr);
    EXPECT_EQ(std::tuple(header(*request, "Content-Type"), header(*request, "User-Agent"), header(*request, "Authorization")),
              std::tuple("text/plain", "mine", "Basic dXNlcjpwYQ=="));
    serializer.setAuthorizationHeaderFieldWithToken("t0k");
    EXPECT_EQ(serializer.valueForHTTPHeaderField("Authorization"), "Token token=\"t0k\"");
    serializer.clearAuthorizationHeader();
    serializer.setValue(std::nullopt, "User-Agent");
    request = serializer.requestWithMethod("GET", "http://h/", std::nullopt);
    EXPECT_EQ(std::tuple(header(*request, "Authorization"), header(*request, "User-Agent")), std::tuple("<none>", "<none>"));
    const auto field = [](platform::ProcessInfo info, const std::string& name) { return HTTPRequestSerializer(info).valueForHTTPHeaderField(name); };
    EXPECT_EQ(field(process({"a", "b", "c", "d", "e", "f", "g"}), "Accept-Language"), "a;q=1, b;q=0.9, c;q=0.8, d;q=0.7, e;q=0.6, f;q=0.5");
    EXPECT_EQ(field(process({}), "Accept-Language"), "");
    EXPECT_EQ(field(process({"ja"}, "\xE6\x97\xA5\xE6\x9C\xAC"), "User-Agent"), "ri ben/1.2 (Linux 6.1.0)");  // two CJK characters
    EXPECT_EQ(field(process({}, ""), "User-Agent"), "org.example.rig/1.2 (Linux 6.1.0)");
    EXPECT_EQ(platform::ProcessInfo::languageTag("pt_BR.UTF-8@euro"), "pt-BR");
    EXPECT_EQ(platform::ProcessInfo::languageTag("C.UTF-8"), "");
}

TEST(HTTPRequestSerializer, AppliesOnlyRequestPropertiesThatWereSet)
{
    HTTPRequestSerializer serializer(process());
    std::optional<URLRequest> request = serializer.requestWithMethod("GET", "http://h/", std::nullopt);
    EXPECT_EQ(std::tuple(request->timeoutInterval, request->HTTPShouldHandleCookies), std::tuple(URLRequest().timeoutInterval, true));
    serializer.setTimeoutInterval(7);
    serializer.setHTTPShouldHandleCookies(false);
    serializer.setAllowsCellularAccess(true);  // the request's own value, still counted as set
    request = serializer.requestWithMethod("GET", "http://h/", std::nullopt);
    EXPECT_EQ(std::tuple(request->timeoutInterval, request->HTTPShouldHandleCookies), std::tuple(7.0, false));
    EXPECT_EQ(serializer.observedChangedKeyPaths(),
              (std::set<std::string>{"timeoutInterval", "HTTPShouldHandleCookies", "allowsCellularAccess"}));

    serializer.setValue("v", "X-Mine");
    serializer.setQueryStringSerializationWithStyle(3);
    serializer.stringEncoding = "ISO-8859-1";
    serializer.HTTPMethodsEncodingParametersInURI = {"POST"};
    std::shared_ptr<HTTPRequestSerializer> copied = serializer.copy();
    EXPECT_EQ(copied->valueForHTTPHeaderField("X-Mine"), "v");
    EXPECT_EQ(std::tuple(copied->queryStringSerializationStyle(), copied->stringEncoding), std::tuple(3UL, std::string("UTF-8")));
    EXPECT_EQ(copied->HTTPMethodsEncodingParametersInURI, (std::set<std::string>{"GET", "HEAD", "DELETE"}));
    EXPECT_TRUE(copied->observedChangedKeyPaths().empty());
}

TEST(HTTPRequestSerializer, QueryStyleAndCallback)
{
    HTTPRequestSerializer serializer(process());
    serializer.setQueryStringSerializationWithStyle(1);
    for (const char* method : {"GET", "POST"}) {
        std::optional<URLRequest> request = serializer.requestWithMethod(method, "http://h/p", ParameterDictionary{{"a", 1}});
        EXPECT_EQ(std::tuple(request->url, body(*request), header(*request, "Content-Type")), std::tuple("http://h/p", "<none>", "<none>"));
    }
    serializer.setQueryStringSerializationWithBlock([](const URLRequest&, const ParameterValue& parameters, std::optional<platform::Error>*) {
        return std::optional<std::string>("n=" + std::to_string(parameters.dictionary()->size()));
    });
    EXPECT_EQ(serializer.requestWithMethod("GET", "http://h/", ParameterDictionary{{"a", 1}})->url, "http://h/?n=1");
    serializer.setQueryStringSerializationWithBlock([](const URLRequest&, const ParameterValue&, std::optional<platform::Error>* error) {
        *error = platform::Error::make("test", 9, "refused");
        return std::optional<std::string>();
    });
    std::optional<platform::Error> error;
    EXPECT_FALSE(serializer.requestWithMethod("POST", "http://h/", ParameterDictionary{}, &error));
    EXPECT_EQ(error->code, 9);

    HTTPRequestSerializer latin(process());
    latin.stringEncoding = "ISO-8859-1";
    error.reset();
    EXPECT_FALSE(latin.requestWithMethod("POST", "http://h/", ParameterDictionary{{"v", "\xE6\x97\xA5"}}, &error));
    EXPECT_EQ(error->code, URLRequestSerializationErrorUnencodable);
}

// A default header field with a line break or NUL would add lines of its own to every request built:
// it is refused where it is set, and nothing of it is kept.
TEST(HTTPRequestSerializer, AHeaderFieldWithALineBreakOrABrokenPreconditionThrows)
{
    HTTPRequestSerializer serializer(process());
    const auto before = serializer.HTTPRequestHeaders();
    EXPECT_THAT([&] { serializer.setValue("rig\r\nX-Injected: yes", "X-Client"); },
                ThrowsMessage<std::invalid_argument>(StrEq("Invalid parameter not satisfying: header field without CR, LF or NUL")));
    EXPECT_THROW(serializer.setValue(std::string("rig\0", 4), "X-Client"), std::invalid_argument);
    EXPECT_THROW(serializer.setValue("rig", "X-Client\n"), std::invalid_argument);
    EXPECT_THROW(serializer.setValue(std::nullopt, "X\rY"), std::invalid_argument);
    EXPECT_THROW(serializer.setAuthorizationHeaderFieldWithToken("t0k\r\nX-Injected: yes"), std::invalid_argument);
    EXPECT_EQ(serializer.HTTPRequestHeaders(), before);
    // The method opens the request line, where a space or line break would end it early.
    for (const std::string method : {"GET\r\nX-Injected: yes", "GET /x", "GE\nT"})
        EXPECT_THROW(serializer.requestWithMethod(method, "http://example.test/x", std::nullopt, nullptr), std::invalid_argument) << method;
    // The user name and password go base64-encoded: any text is safe there.
    serializer.setAuthorizationHeaderFieldWithUsername("ada\r\n", "pw\n");
    EXPECT_EQ(serializer.valueForHTTPHeaderField("Authorization"), "Basic YWRhDQo6cHcK");
    // A method or URL that breaks a precondition throws too.
    for (const auto& [method, url] : std::vector<std::pair<std::string, std::string>>{
             {"", "http://h/"}, {"GET", ""}, {"GET", "no scheme"}, {"GET", "http://h/%zz"}})
        EXPECT_THROW(serializer.requestWithMethod(method, url, std::nullopt), std::invalid_argument) << url;
    EXPECT_THAT([&] { serializer.requestWithMethod("GET", "http://h/a b", std::nullopt); },
                ThrowsMessage<std::invalid_argument>(StrEq("Invalid parameter not satisfying: url")));
}

TEST(DocumentRequestSerializers, WriteBodiesOrReportWhyNot)
{
    auto json = JSONRequestSerializer::serializer();
    std::optional<URLRequest> request = json->requestWithMethod("GET", "http://h/", ParameterDictionary{{"a", 1}});
    EXPECT_EQ(std::tuple(request->url, body(*request)), std::tuple("http://h/?a=1", "<none>"));
    request = json->requestWithMethod("POST", "http://h/", std::nullopt);
    EXPECT_EQ(std::tuple(body(*request), header(*request, "Content-Type")), std::tuple("<none>", "<none>"));
    EXPECT_EQ(header(*request, "Accept-Language"), header(*json->requestWithMethod("GET", "http://h/", std::nullopt), "Accept-Language"));
    request = json->requestWithMethod("POST", "http://h/", ParameterDictionary{{"b", ParameterArray{1, nullptr}}, {"a", "x"}});
    EXPECT_EQ(std::tuple(body(*request), header(*request, "Content-Type")), std::tuple(R"({"a":"x","b":[1,null]})", "application/json"));
    URLRequest typed("http://h/");
    typed.httpMethod = "PUT";
    typed.setValue("application/vnd.mine", "Content-Type");
    request = json->requestBySerializingRequest(typed, ParameterDictionary{}, nullptr);
    EXPECT_EQ(std::tuple(body(*request), header(*request, "Content-Type")), std::tuple("{}", "application/vnd.mine"));
    auto pretty = JSONRequestSerializer::serializerWithWritingOptions(JSONRequestSerializer::kJSONWritingPrettyPrinted);
    EXPECT_EQ(std::static_pointer_cast<JSONRequestSerializer>(pretty->copy())->writingOptions, 1u);

    auto plist = PropertyListRequestSerializer::serializerWithFormat(PropertyListRequestSerializer::kPropertyListBinaryFormat, 0);
    request = plist->requestWithMethod("POST", "http://h/", ParameterDictionary{{"a", 1}, {"d", std::vector<std::uint8_t>{7}}});
    EXPECT_EQ(header(*request, "Content-Type"), "application/x-plist");
    platform::PlistFormat format = platform::PlistFormat::Xml;
    auto parsed = platform::PropertyList::parse(*request->httpBody, nullptr, &format);
    EXPECT_EQ(format, platform::PlistFormat::Binary);
    EXPECT_EQ(parsed->get("a").asInteger(), 1);
    EXPECT_EQ(*parsed->get("d").bytes(), platform::Bytes{7});
    EXPECT_EQ(std::static_pointer_cast<PropertyListRequestSerializer>(plist->copy())->format, 200u);

    // What a document cannot hold is reported, and no body goes out, not even one the request came with.
    URLRequest withBody("http://h/");
    withBody.httpMethod = "POST";
    withBody.httpBody = platform::Bytes{'o', 'l', 'd'};
    withBody.httpBodyStream = std::make_shared<platform::DataInputStream>(platform::Bytes{'o', 'l', 'd'});
    const std::vector<std::pair<std::shared_ptr<HTTPRequestSerializer>, ParameterValue>> unwritable = {
        {json, ParameterDictionary{{"s", "\xFF"}}},
        {json, ParameterDictionary{{"d", std::vector<std::uint8_t>{1}}}},
        {plist, ParameterDictionary{{"n", nullptr}}}};
    for (const auto& [serializer, parameters] : unwritable) {
        std::optional<platform::Error> error;
        request = serializer->requestWithMethod("POST", "http://h/", parameters, &error);
        ASSERT_TRUE(request);
        EXPECT_FALSE(request->httpBody);
        EXPECT_EQ(error ? error->code : 0, URLRequestSerializationErrorUnwritable);
        error.reset();
        request = serializer->requestBySerializingRequest(withBody, parameters, &error);
        EXPECT_TRUE(error);
        EXPECT_FALSE(request->httpBody || request->httpBodyStream);
    }
}
