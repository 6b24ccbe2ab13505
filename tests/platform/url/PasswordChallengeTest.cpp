// A connection's answers to password challenges: how a challenge header reads, which challenge it takes,
// where the password goes, expired nonces, and user names that would break the header line.
#include <gtest/gtest.h>

#include "platform/url/AuthenticationChallenge.h"
#include "platform/url/HTTPAuthorization.h"
#include "platform/url/PasswordAnswer.h"
#include "support/url/URLConnectionRecorder.h"
#include "ChallengeReplies.h"

using namespace support::urlconnection;
using namespace challengereplies;

namespace {

using Spaces = std::vector<std::string>;

LoopbackServer::Reply digest(const std::string& nonce, bool stale = false)
{
    return challenge({"Digest realm=\"r\", qop=\"auth\", nonce=\"" + nonce + "\"" + (stale ? ", stale=true" : "")});
}

const std::string kBasicAnswer = "Basic YWRhOnNlY3JldA==";

struct PasswordChallenge : ConnectionFixture {
    std::mutex mutex;
    Spaces spaces;  // the protection spaces the delegate was asked about ("method realm failures")

    // Runs the request with a delegate that trusts every server and gives `user` and "secret" to a space's
    // first challenge.
    std::shared_ptr<Recorder> withPassword(URLRequest request, const std::string& user = "ada",
                                           std::chrono::seconds limit = std::chrono::seconds(10))
    {
        asked();
        auto recorder = std::make_shared<Recorder>();
        recorder->answerChallenge = [this, user](AuthenticationChallenge& challenge) {
            const ProtectionSpace& space = challenge.protectionSpace();
            if (space.serverTrust) return challenge.useCredential(URLCredential::credentialForTrust(*space.serverTrust));
            {
                std::lock_guard lock(mutex);
                spaces.push_back(space.authenticationMethod + " " + space.realm + " " + std::to_string(challenge.previousFailureCount()));
            }
            if (challenge.previousFailureCount() == 0) challenge.useCredential(URLCredential::credentialWithUser(user, "secret"));
            else challenge.continueWithoutCredential();
        };
        return fetch(std::move(request), recorder, limit);
    }
    std::shared_ptr<Recorder> withPassword(const std::string& path) { return withPassword(URLRequest(server.url(path))); }
    // The spaces asked about since the last run began, and forgets them.
    Spaces asked()
    {
        std::lock_guard lock(mutex);
        return std::exchange(spaces, {});
    }
};

}  // namespace

// A password answered for one scheme, host and port goes along a redirect within them (a Digest answer
// made afresh for the new path), and nowhere else: not to another host, not from https to plain http.
TEST_F(PasswordChallenge, AnAnswerGoesOnlyToTheSchemeHostAndPortThatAskedForIt)
{
    server.serve("/b", "arrived", "text/plain");
    for (const bool elsewhere : {false, true}) {
        server.script("/a", {challenge({"Basic realm=\"r\""}), redirectTo(server.url("/b", elsewhere ? "localhost" : "127.0.0.1"))});
        withPassword("/a");
        EXPECT_EQ(server.requests("/a").back().header("Authorization"), kBasicAnswer);
        EXPECT_EQ(server.requests("/b").back().header("Authorization"), elsewhere ? "" : kBasicAnswer) << elsewhere;
    }
    server.script("/c", {digest("n1"), redirectTo("/d?x=1")});
    server.serve("/d", "arrived", "text/plain");
    withPassword("/c");
    const std::string moved = server.requests("/d").back().header("Authorization");
    EXPECT_TRUE(contains(moved, "uri=\"/d?x=1\"") && contains(moved, "nc=00000002")) << moved;

    const auto authority = support::TestCertificates::makeAuthority("Loopback Root");
    LoopbackServer secure(support::TestCertificates::makeServer(authority, "localhost", {"DNS:localhost"}));
    secure.script("/a", {challenge({"Basic realm=\"r\""}), redirectTo(server.url("/b", "localhost"))});
    withPassword(URLRequest(secure.url("/a", "localhost"), 20.0), "ada", std::chrono::seconds(30));
    EXPECT_EQ(secure.requests("/a").back().header("Authorization"), kBasicAnswer);
    EXPECT_EQ(server.requests("/b").back().header("Authorization"), "");
    // The place a redirect leads to never got the password: its own 401 is a first challenge there, not a
    // refusal. One that did get it (the same place) and still asks has refused it.
    for (const bool elsewhere : {true, false}) {
        const std::string path = elsewhere ? "/elsewhere" : "/here";
        server.script("/a" + path, {challenge({"Basic realm=\"r\""}), redirectTo(server.url(path, elsewhere ? "localhost" : "127.0.0.1"))});
        server.script(path, {challenge({"Basic realm=\"s\""}), kWelcome});
        const auto recorder = withPassword("/a" + path);
        EXPECT_EQ(asked(), (Spaces{"HTTPBasic r 0", std::string("HTTPBasic s ") + (elsewhere ? "0" : "1")}));
        ASSERT_FALSE(recorder->error);
        EXPECT_EQ(recorder->response->statusCode, elsewhere ? 200 : 401) << path;
        EXPECT_EQ(server.requests(path).back().header("Authorization"), kBasicAnswer) << path;
    }
}

// Every challenge of every header is read and the first one the connection can answer is taken; when it
// can answer none, the failure says so and the delegate is not asked for a password it could not use.
TEST_F(PasswordChallenge, TheFirstChallengeItCanAnswerIsTakenAndAHostileListIsNamedBriefly)
{
    const struct { std::vector<std::string> offered; std::string answer, space; } cases[] = {
        {{"Negotiate", "Basic realm=\"y\""}, "Basic ", "HTTPBasic y 0"},
        {{"Newauth realm=\"x\", Basic realm=\"y\""}, "Basic ", "HTTPBasic y 0"},
        {{"Negotiate abc==, Digest realm=\"y\", nonce=\"n\", algorithm=SHA-512-256"}, "", ""},
        // The two challenges of the Digest scheme's own example, the stronger algorithm first.
        {{R"(Digest realm="http-auth@example.org", qop="auth, auth-int", algorithm=SHA-256, nonce="7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v", opaque="FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS")",
          R"(Digest realm="http-auth@example.org", qop="auth, auth-int", algorithm=MD5, nonce="7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v", opaque="FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS")"},
         "Digest ", "HTTPDigest http-auth@example.org 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offered.front());
        server.script("/p", {challenge(c.offered), kWelcome});
        const int before = server.hits("/p");
        const auto recorder = withPassword("/p");
        if (c.answer.empty()) {
            ASSERT_TRUE(recorder->error);
            EXPECT_EQ(recorder->error->code, URLErrorUserAuthenticationRequired);
            EXPECT_TRUE(contains(recorder->error->description, "(Negotiate, Digest)")) << recorder->error->description;
            EXPECT_TRUE(asked().empty());
            EXPECT_EQ(server.hits("/p") - before, 1);
            continue;
        }
        ASSERT_FALSE(recorder->error);
        EXPECT_EQ(recorder->response->statusCode, 200);
        EXPECT_EQ(asked(), Spaces{c.space});
        const std::string sent = server.requests("/p").back().header("Authorization");
        EXPECT_EQ(sent.rfind(c.answer, 0), 0u) << sent;
        EXPECT_TRUE(c.answer != "Digest " || contains(sent, "algorithm=MD5")) << sent;
    }
    // A server may offer a great many challenges, or one of great length, none of them answerable: the failure
    // names what was offered once each and briefly, never the server's whole header.
    std::string many;
    for (int i = 0; i < 10000; ++i) many += i % 2 ? "Newauth, " : "Bearer, ";
    for (const auto& offered : {std::vector<std::string>{many, "Negotiate"}, std::vector<std::string>{std::string(60000, 'x')}}) {
        server.script("/h", {challenge(offered)});
        const auto recorder = withPassword("/h");
        ASSERT_TRUE(recorder->error);
        EXPECT_EQ(recorder->error->code, URLErrorUserAuthenticationRequired);
        const std::string said = recorder->error->description.substr(0, 300);
        EXPECT_LT(recorder->error->description.size(), 300u) << said;
        EXPECT_TRUE(offered.size() != 2 || contains(said, "(Bearer, Newauth, Negotiate)")) << said;
    }
}

// "stale=true" says the password was right and only the nonce expired: the same answer goes again with
// the new nonce, counted from 1, without asking and without counting a failure. A server that calls
// every nonce expired is answered only so often. Only an expired nonce of the realm and scheme that were
// answered is renewed so: "stale" on another realm, or after a Basic answer, is a refusal put to the delegate.
TEST_F(PasswordChallenge, AStaleNonceIsAnsweredAgainWithoutAsking)
{
    server.script("/s", {digest("n1"), digest("n2", true), kWelcome});
    auto recorder = withPassword("/s");
    ASSERT_FALSE(recorder->error);
    EXPECT_EQ(recorder->response->statusCode, 200);
    EXPECT_EQ(asked(), Spaces{"HTTPDigest r 0"});
    const auto requests = server.requests("/s");
    ASSERT_EQ(requests.size(), 3u);
    const std::string renewed = requests[2].header("Authorization");
    EXPECT_TRUE(contains(renewed, "nonce=\"n2\"") && contains(renewed, "nc=00000001")) << renewed;

    server.script("/e", {digest("n1"), digest("n2", true)});
    recorder = withPassword("/e");
    ASSERT_FALSE(recorder->error);
    EXPECT_EQ(recorder->response->statusCode, 401);
    EXPECT_EQ(asked(), (Spaces{"HTTPDigest r 0", "HTTPDigest r 1"}));
    EXPECT_EQ(server.hits("/e"), 2 + 16);

    const std::string otherRealm = R"(Digest realm="other", qop="auth", nonce="n2", stale=true)";
    for (const bool basic : {false, true}) {
        server.script("/o", {basic ? challenge({"Basic realm=\"r\""}) : digest("n1"), challenge({otherRealm}), kWelcome});
        const int before = server.hits("/o");
        recorder = withPassword("/o");
        EXPECT_EQ(asked(), (Spaces{basic ? "HTTPBasic r 0" : "HTTPDigest r 0", "HTTPDigest other 1"}));
        ASSERT_FALSE(recorder->error);
        EXPECT_EQ(std::pair(recorder->response->statusCode, server.hits("/o") - before), std::pair(std::int64_t{401}, 2));
    }
}

// A line break in a user name, in any field however it got into the request, or in the method never
// reaches the wire: such a request is refused before it is sent.
TEST_F(PasswordChallenge, NoFieldWithALineBreakIsSent)
{
    server.script("/u", {digest("n1"), kWelcome});
    withPassword(URLRequest(server.url("/u")), "ada\r\nX-Injected: yes");
    const auto answered = server.requests("/u").back();
    EXPECT_EQ(answered.header("X-Injected"), "");
    // (The server's library hands the value over percent-decoded.)
    EXPECT_EQ(answered.header("Authorization").rfind("Digest username*=UTF-8''ada", 0), 0u) << answered.header("Authorization");

    URLRequest request(server.url("/h"));
    EXPECT_THROW(request.setValue("rig\r\nX-Injected: yes", "X-Client"), std::invalid_argument);
    EXPECT_THROW(request.setValue("rig", "X-\nClient"), std::invalid_argument);
    EXPECT_TRUE(request.headerFields.empty());
    // The method goes out in the request line: one holding a line break or a space would end that line
    // early and pass the rest off as fields of its own.
    server.serve("/h", "never", "text/plain");
    using Field = std::pair<std::string, std::string>;
    const struct { Field field; std::string method; std::int64_t code; } refused[] = {
        {{"X-Client", "rig\r\nX-Injected: yes"}, "GET", 0}, {{"X-Client", "rig\nX"}, "GET", 0}, {{std::string("X-\0Client", 9), "rig"}, "GET", 0},
        {{"", "rig"}, "GET", 0}, {{}, "PUT /h HTTP/1.1\r\nX-Injected: yes\r\nX-Rest:", URLErrorUnknown}, {{}, "GET\nX", URLErrorUnknown},
        {{}, std::string("GE\0T", 4), URLErrorUnknown}, {{}, "GET /h", URLErrorUnknown}};
    for (const auto& c : refused) {
        URLRequest asked(server.url("/h"));
        if (!c.field.second.empty()) asked.headerFields.push_back(c.field);
        asked.httpMethod = c.method;
        const auto recorder = fetch(asked);
        ASSERT_TRUE(recorder->error) << c.field.second << c.method;
        if (c.code) EXPECT_EQ(recorder->error->code, c.code);
        else EXPECT_TRUE(contains(recorder->error->description, "line break or NUL")) << recorder->error->description;
    }
    EXPECT_EQ(server.hits("/h"), 0);
}

// Where an answer kept for one place goes: the scheme, the host (in any case, an IPv6 literal as one) and
// the port (a default one written out or left out alike) must all be the ones that asked.
TEST(PasswordAnswer, AnAnswerKnowsItsPlaceBySchemeHostAndPort)
{
    const auto basic = HTTPAuthorization::parse("Basic realm=\"r\"");
    ASSERT_TRUE(basic);
    const struct { std::string asked, attempt; bool carries; } cases[] = {
        {"https://Rig.Example/a", "https://rig.example:443/b?x=1", true},
        {"http://rig.example/a", "http://RIG.EXAMPLE:80/", true},
        {"http://rig.example:8080/a", "http://rig.example:8080/b", true},
        {"http://rig.example/a", "http://rig.example:8080/a", false},
        {"https://rig.example/a", "http://rig.example/a", false},
        {"https://rig.example/a", "http://rig.example:443/a", false},
        {"http://rig.example/a", "https://rig.example/a", false},
        {"http://rig.example/a", "http://rig.example.evil/a", false},
        {"http://[::1]:8080/a", "http://[::1]:8080/b", true},
        {"http://[::1]:8080/a", "http://[::2]:8080/a", false},
        {"http://[::1]:8080/a", "http://127.0.0.1:8080/a", false},
        {"http://rig.example/a", "not a url", false},
    };
    for (const auto& c : cases) {
        PasswordAnswer answer(c.asked, *basic, URLCredential::credentialWithUser("ada", "secret"));
        EXPECT_EQ(answer.authorizationFor(c.attempt, "GET", "/").has_value(), c.carries) << c.asked << " -> " << c.attempt;
    }
}

TEST(HTTPAuthorization, ReadsTheFirstChallengeOfTheHeader)
{
    auto digest = HTTPAuthorization::parse(R"(Digest realm="a \"quoted\", realm", qop="auth,auth-int", nonce=abc, Basic realm="x")");
    ASSERT_TRUE(digest);
    EXPECT_EQ(digest->scheme, "Digest");
    EXPECT_EQ(digest->parameter("realm"), "a \"quoted\", realm");
    EXPECT_EQ(digest->parameter("qop"), "auth,auth-int");
    EXPECT_EQ(digest->parameter("nonce"), "abc");
    EXPECT_EQ(digest->parameters.size(), 3u);
    EXPECT_STREQ(HTTPAuthorization::authenticationMethod(*digest), platform::kAuthenticationMethodHTTPDigest);
    auto basic = HTTPAuthorization::parse("basic REALM=\"r\"");
    ASSERT_TRUE(basic);
    EXPECT_EQ(basic->parameter("realm"), "r");
    EXPECT_STREQ(HTTPAuthorization::authenticationMethod(*basic), platform::kAuthenticationMethodHTTPBasic);
    EXPECT_STREQ(HTTPAuthorization::authenticationMethod(*HTTPAuthorization::parse("Bearer")), platform::kAuthenticationMethodDefault);
    for (const char* malformed : {"", "   ", "Digest realm=\"never closed", "Digest =x"}) EXPECT_FALSE(HTTPAuthorization::parse(malformed)) << malformed;
}

TEST(HTTPAuthorization, AnswersBasicAndMD5DigestAndNothingElseAndAUserNameNeverBreaksTheHeader)
{
    auto basic = HTTPAuthorization::parse("Basic realm=\"r\"");
    EXPECT_EQ(HTTPAuthorization::header(*basic, "GET", "/", "Aladdin", "open sesame", 1, "c"), "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_EQ(HTTPAuthorization::base64("ab"), "YWI=");
    EXPECT_EQ(HTTPAuthorization::base64("a"), "YQ==");
    // The worked example of the Digest scheme's own definition.
    auto digest = HTTPAuthorization::parse(
        R"(Digest realm="testrealm@host.com", qop="auth,auth-int", nonce="dcd98b7102dd2f0e8b11d0f600bfb0c093", opaque="5ccc069c403ebaf9f0171e9517f40e41")");
    auto answer = HTTPAuthorization::header(*digest, "GET", "/dir/index.html", "Mufasa", "Circle Of Life", 1, "0a4f113b");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->rfind("Digest username=\"Mufasa\"", 0), 0u);
    for (const char* part : {"response=\"6629fae49393a05397450978507c4ef1\"", "nc=00000001", "cnonce=\"0a4f113b\"", "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""})
        EXPECT_NE(answer->find(part), std::string::npos) << *answer;
    for (const char* unanswerable : {R"(Digest realm="r", nonce="n", algorithm=SHA-256)", R"(Digest realm="r", nonce="n", qop="auth-int")",
                                     R"(Digest realm="r")", "Bearer realm=x"})
        EXPECT_FALSE(HTTPAuthorization::header(*HTTPAuthorization::parse(unanswerable), "GET", "/", "u", "p", 1, "c")) << unanswerable;
    // A user name a quoted string cannot carry goes as an extended value, percent-encoded, and the digest is
    // still that of the name itself.
    auto plainDigest = HTTPAuthorization::parse(R"(Digest realm="r", nonce="n", qop="auth")");
    auto escaped = HTTPAuthorization::header(*plainDigest, "GET", "/", std::string("ada\r\nX-Injected: yes\0\x7f\"", 23), "pw", 1, "c");
    ASSERT_TRUE(escaped);
    EXPECT_EQ(escaped->find_first_of(std::string("\r\n\0", 3)), std::string::npos);
    EXPECT_EQ(escaped->rfind("Digest username*=UTF-8''ada%0D%0AX-Injected%3A%20yes%00%7F%22, realm=", 0), 0u) << *escaped;
    auto plain = HTTPAuthorization::header(*plainDigest, "GET", "/", "ada \"q\"\tz", "pw", 1, "c");
    EXPECT_EQ(plain->rfind("Digest username=\"ada \\\"q\\\"\tz\"", 0), 0u) << *plain;
}

TEST(HTTPAuthorization, ReadsEveryChallengeOfAHeaderAndKnowsWhichItCanAnswer)
{
    using List = std::vector<std::string>;
    const struct { const char* header; List schemes; } cases[] = {
        {"Newauth realm=\"apps\", type=1, title=\"Login to \\\"apps\\\"\", Basic realm=\"simple\"", {"Newauth-", "Basic+"}},
        {"Negotiate abc+/==, NTLM, Digest realm=\"r\", nonce=\"n\", algorithm=MD5", {"Negotiate-", "NTLM-", "Digest+"}},
        {", ,Bearer ,Digest realm=\"r\", nonce=\"n\", algorithm=SHA-256, qop=\"auth\"", {"Bearer-", "Digest-"}},
        // A malformed challenge ends the list; those before it stand.
        {"Basic realm=\"r\", Digest realm=\"never closed", {"Basic+"}},
        // The qop list's white space may be tabs as well as spaces.
        {"Digest realm=\"r\", nonce=\"n\", qop=\"auth-int,\tauth\"", {"Digest+"}},
        {"Digest realm=\"r\", nonce=\"n\", qop=\"\tauth\t , auth-int\"", {"Digest+"}},
    };
    for (const auto& c : cases) {
        List schemes;
        for (const auto& challenge : HTTPAuthorization::parseAll(c.header))
            schemes.push_back(challenge.scheme + (HTTPAuthorization::canAnswer(challenge) ? "+" : "-"));
        EXPECT_EQ(schemes, c.schemes) << c.header;
    }
    EXPECT_TRUE(HTTPAuthorization::isStale(*HTTPAuthorization::parse(R"(Digest realm="r", nonce="n2", stale=TRUE)")));
    EXPECT_FALSE(HTTPAuthorization::isStale(*HTTPAuthorization::parse(R"(Digest realm="r", nonce="n2", stale=false)")));
}

