// A connection's answers to password challenges: which challenge it takes, where the password goes,
// expired nonces, and user names that would break the header line.
#include <gtest/gtest.h>

#include "platform/url/HTTPAuthorization.h"
#include "platform/url/PasswordAnswer.h"
#include "support/url/URLConnectionRecorder.h"

using namespace support::urlconnection;

namespace {

// The protection spaces a delegate was asked about ("method realm failures"), from the network thread.
struct Asked {
    std::mutex mutex;
    std::vector<std::string> spaces;
    std::vector<std::string> all()
    {
        std::lock_guard lock(mutex);
        return spaces;
    }
};

// A delegate that trusts every server and gives `user` and "secret" to a space's first challenge.
std::shared_ptr<Recorder> withPassword(std::shared_ptr<Asked> asked, std::string user = "ada")
{
    auto recorder = std::make_shared<Recorder>();
    recorder->answerChallenge = [asked, user](AuthenticationChallenge& challenge) {
        const ProtectionSpace& space = challenge.protectionSpace();
        if (space.serverTrust) return challenge.useCredential(URLCredential::credentialForTrust(*space.serverTrust));
        {
            std::lock_guard lock(asked->mutex);
            asked->spaces.push_back(space.authenticationMethod + " " + space.realm + " " +
                                    std::to_string(challenge.previousFailureCount()));
        }
        if (challenge.previousFailureCount() == 0)
            challenge.useCredential(URLCredential::credentialWithUser(user, "secret"));
        else
            challenge.continueWithoutCredential();
    };
    return recorder;
}

LoopbackServer::Reply challenge(const std::vector<std::string>& offered)
{
    LoopbackServer::Reply reply{401, "text/plain", "who are you", {}};
    for (const auto& value : offered) reply.headers.emplace_back("WWW-Authenticate", value);
    return reply;
}

LoopbackServer::Reply digest(const std::string& nonce, bool stale = false)
{
    return challenge({"Digest realm=\"r\", qop=\"auth\", nonce=\"" + nonce + "\"" + (stale ? ", stale=true" : "")});
}

LoopbackServer::Reply redirectTo(const std::string& url)
{
    return LoopbackServer::Reply{302, "text/plain", "", {{"Location", url}}};
}

const LoopbackServer::Reply kWelcome{200, "text/plain", "welcome", {}};
const std::string kBasicAnswer = "Basic YWRhOnNlY3JldA==";

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

}  // namespace

// A password answered for one scheme, host and port goes along a redirect within them (a Digest answer
// made afresh for the new path), and nowhere else: not to another host, not from https to plain http.
TEST(PasswordChallenge, AnAnswerGoesOnlyToTheSchemeHostAndPortThatAskedForIt)
{
    LoopbackServer server;
    server.serve("/b", "arrived", "text/plain");
    NetworkThread thread("test.network");
    for (const bool elsewhere : {false, true}) {
        server.script("/a", {challenge({"Basic realm=\"r\""}), redirectTo(server.url("/b", elsewhere ? "localhost" : "127.0.0.1"))});
        auto recorder = withPassword(std::make_shared<Asked>());
        startOn(thread, URLRequest(server.url("/a")), recorder);
        ASSERT_TRUE(recorder->waitForEnd());
        EXPECT_EQ(server.requests("/a").back().header("Authorization"), kBasicAnswer);
        EXPECT_EQ(server.requests("/b").back().header("Authorization"), elsewhere ? "" : kBasicAnswer) << elsewhere;
    }

    server.script("/c", {digest("n1"), redirectTo("/d?x=1")});
    server.serve("/d", "arrived", "text/plain");
    auto recorder = withPassword(std::make_shared<Asked>());
    startOn(thread, URLRequest(server.url("/c")), recorder);
    ASSERT_TRUE(recorder->waitForEnd());
    const std::string moved = server.requests("/d").back().header("Authorization");
    EXPECT_TRUE(contains(moved, "uri=\"/d?x=1\"") && contains(moved, "nc=00000002")) << moved;

    const auto authority = support::TestCertificates::makeAuthority("Loopback Root");
    LoopbackServer secure(support::TestCertificates::makeServer(authority, "localhost", {"DNS:localhost"}));
    secure.script("/a", {challenge({"Basic realm=\"r\""}), redirectTo(server.url("/b", "localhost"))});
    auto downgraded = withPassword(std::make_shared<Asked>());
    startOn(thread, URLRequest(secure.url("/a", "localhost"), 20.0), downgraded);
    ASSERT_TRUE(downgraded->waitForEnd(std::chrono::seconds(30)));
    EXPECT_EQ(secure.requests("/a").back().header("Authorization"), kBasicAnswer);
    EXPECT_EQ(server.requests("/b").back().header("Authorization"), "");
}

// Every challenge of every header is read and the first one the connection can answer is taken; when it
// can answer none, the failure says so and the delegate is not asked for a password it could not use.
TEST(PasswordChallenge, TheFirstChallengeItCanAnswerIsTaken)
{
    LoopbackServer server;
    NetworkThread thread("test.network");
    struct Case {
        std::vector<std::string> offered;
        std::string answer;
        std::string space;
    };
    const std::vector<Case> cases = {
        {{"Negotiate", "Basic realm=\"y\""}, "Basic ", "HTTPBasic y 0"},
        {{"Newauth realm=\"x\", Basic realm=\"y\""}, "Basic ", "HTTPBasic y 0"},
        {{"Negotiate abc==, Digest realm=\"y\", nonce=\"n\", algorithm=SHA-512-256"}, "", ""},
        // The two challenges of the Digest scheme's own example, the stronger algorithm first.
        {{R"(Digest realm="http-auth@example.org", qop="auth, auth-int", algorithm=SHA-256, nonce="7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v", opaque="FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS")",
          R"(Digest realm="http-auth@example.org", qop="auth, auth-int", algorithm=MD5, nonce="7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v", opaque="FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS")"},
         "Digest ", "HTTPDigest http-auth@example.org 0"},
    };
    for (const auto& c : cases) {
        server.script("/p", {challenge(c.offered), kWelcome});
        const int before = server.hits("/p");
        auto asked = std::make_shared<Asked>();
        auto recorder = withPassword(asked);
        startOn(thread, URLRequest(server.url("/p")), recorder);
        ASSERT_TRUE(recorder->waitForEnd());
        std::lock_guard lock(recorder->mutex);
        if (c.answer.empty()) {
            ASSERT_TRUE(recorder->error) << c.offered.front();
            EXPECT_EQ(recorder->error->code, URLErrorUserAuthenticationRequired);
            EXPECT_TRUE(contains(recorder->error->description, "(Negotiate, Digest)")) << recorder->error->description;
            EXPECT_TRUE(asked->all().empty());
            EXPECT_EQ(server.hits("/p") - before, 1);
            continue;
        }
        ASSERT_FALSE(recorder->error) << c.offered.front();
        EXPECT_EQ(recorder->response->statusCode, 200) << c.offered.front();
        EXPECT_EQ(asked->all(), std::vector<std::string>{c.space});
        const std::string sent = server.requests("/p").back().header("Authorization");
        EXPECT_EQ(sent.rfind(c.answer, 0), 0u) << sent;
        if (c.answer == "Digest ") {
            EXPECT_TRUE(contains(sent, "algorithm=MD5")) << sent;
        }
    }
}

// "stale=true" says the password was right and only the nonce expired: the same answer goes again with
// the new nonce, counted from 1, without asking and without counting a failure. A server that calls
// every nonce expired is answered only so often.
TEST(PasswordChallenge, AStaleNonceIsAnsweredAgainWithoutAsking)
{
    LoopbackServer server;
    NetworkThread thread("test.network");
    server.script("/s", {digest("n1"), digest("n2", true), kWelcome});
    auto asked = std::make_shared<Asked>();
    auto recorder = withPassword(asked);
    startOn(thread, URLRequest(server.url("/s")), recorder);
    ASSERT_TRUE(recorder->waitForEnd());
    {
        std::lock_guard lock(recorder->mutex);
        ASSERT_FALSE(recorder->error);
        EXPECT_EQ(recorder->response->statusCode, 200);
    }
    EXPECT_EQ(asked->all(), std::vector<std::string>{"HTTPDigest r 0"});
    const auto requests = server.requests("/s");
    ASSERT_EQ(requests.size(), 3u);
    const std::string renewed = requests[2].header("Authorization");
    EXPECT_TRUE(contains(renewed, "nonce=\"n2\"") && contains(renewed, "nc=00000001")) << renewed;

    server.script("/e", {digest("n1"), digest("n2", true)});
    auto endless = std::make_shared<Asked>();
    auto stubborn = withPassword(endless);
    startOn(thread, URLRequest(server.url("/e")), stubborn);
    ASSERT_TRUE(stubborn->waitForEnd());
    {
        std::lock_guard lock(stubborn->mutex);
        ASSERT_FALSE(stubborn->error);
        EXPECT_EQ(stubborn->response->statusCode, 401);
    }
    EXPECT_EQ(endless->all(), (std::vector<std::string>{"HTTPDigest r 0", "HTTPDigest r 1"}));
    EXPECT_EQ(server.hits("/e"), 2 + 16);
}

// A line break in a user name, or in any field however it got into the request, never reaches the wire.
TEST(PasswordChallenge, NoFieldWithALineBreakIsSent)
{
    LoopbackServer server;
    NetworkThread thread("test.network");
    server.script("/u", {digest("n1"), kWelcome});
    auto recorder = withPassword(std::make_shared<Asked>(), "ada\r\nX-Injected: yes");
    startOn(thread, URLRequest(server.url("/u")), recorder);
    ASSERT_TRUE(recorder->waitForEnd());
    const auto answered = server.requests("/u").back();
    EXPECT_EQ(answered.header("X-Injected"), "");
    // (The server's library hands the value over percent-decoded.)
    EXPECT_EQ(answered.header("Authorization").rfind("Digest username*=UTF-8''ada", 0), 0u) << answered.header("Authorization");

    server.serve("/h", "never", "text/plain");
    for (const auto& field : std::vector<std::pair<std::string, std::string>>{
             {"X-Client", "rig\r\nX-Injected: yes"}, {"X-Client", "rig\nX"}, {std::string("X-\0Client", 9), "rig"}, {"", "rig"}}) {
        URLRequest request(server.url("/h"));
        request.headerFields.push_back(field);
        auto refused = std::make_shared<Recorder>();
        startOn(thread, request, refused);
        ASSERT_TRUE(refused->waitForEnd());
        std::lock_guard lock(refused->mutex);
        ASSERT_TRUE(refused->error) << field.second;
        EXPECT_TRUE(contains(refused->error->description, "line break or NUL")) << refused->error->description;
    }
    EXPECT_EQ(server.hits("/h"), 0);

    URLRequest request(server.url("/h"));
    EXPECT_THROW(request.setValue("rig\r\nX-Injected: yes", "X-Client"), std::invalid_argument);
    EXPECT_THROW(request.setValue("rig", "X-\nClient"), std::invalid_argument);
    EXPECT_TRUE(request.headerFields.empty());
}

// The method goes out in the request line: one holding a line break or a space would end that line
// early and pass the rest off as fields of its own, so such a request is refused before it is sent.
TEST(PasswordChallenge, AMethodThatIsNotATokenIsNeverSent)
{
    LoopbackServer server;
    server.serve("/m", "never", "text/plain");
    NetworkThread thread("test.network");
    for (const std::string& method : std::vector<std::string>{"PUT /m HTTP/1.1\r\nX-Injected: yes\r\nX-Rest:", "GET\nX", std::string("GE\0T", 4), "GET /m"}) {
        URLRequest request(server.url("/m"));
        request.httpMethod = method;
        auto refused = std::make_shared<Recorder>();
        startOn(thread, request, refused);
        ASSERT_TRUE(refused->waitForEnd());
        std::lock_guard lock(refused->mutex);
        ASSERT_TRUE(refused->error) << method;
        EXPECT_EQ(refused->error->code, URLErrorUnknown);
    }
    EXPECT_EQ(server.hits("/m"), 0);
}

// Where an answer kept for one place goes: the scheme, the host (in any case, an IPv6 literal as one) and
// the port (a default one written out or left out alike) must all be the ones that asked.
TEST(PasswordChallenge, AnAnswerKnowsItsPlaceBySchemeHostAndPort)
{
    const auto basic = HTTPAuthorization::parse("Basic realm=\"r\"");
    ASSERT_TRUE(basic);
    struct Case {
        std::string asked;
        std::string attempt;
        bool carries;
    };
    const std::vector<Case> cases = {
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

// The place a redirect leads to never got the password: its own 401 is a first challenge there, not a
// refusal. One that did get it (the same place) and still asks has refused it.
TEST(PasswordChallenge, A401WhereARedirectLedCountsOnlyThatPlacesRefusals)
{
    LoopbackServer server;
    NetworkThread thread("test.network");
    for (const bool elsewhere : {true, false}) {
        const std::string path = elsewhere ? "/elsewhere" : "/here";
        server.script("/a" + path, {challenge({"Basic realm=\"r\""}), redirectTo(server.url(path, elsewhere ? "localhost" : "127.0.0.1"))});
        server.script(path, {challenge({"Basic realm=\"s\""}), kWelcome});
        auto asked = std::make_shared<Asked>();
        auto recorder = withPassword(asked);
        startOn(thread, URLRequest(server.url("/a" + path)), recorder);
        ASSERT_TRUE(recorder->waitForEnd());
        EXPECT_EQ(asked->all(), (std::vector<std::string>{"HTTPBasic r 0", std::string("HTTPBasic s ") + (elsewhere ? "0" : "1")}));
        std::lock_guard lock(recorder->mutex);
        ASSERT_FALSE(recorder->error);
        EXPECT_EQ(recorder->response->statusCode, elsewhere ? 200 : 401) << path;
        EXPECT_EQ(server.requests(path).back().header("Authorization"), kBasicAnswer) << path;
    }
}

// A server may offer a great many challenges, or one of great length, none of them answerable: the
// failure names what was offered once each and briefly, never the server's whole header.
TEST(PasswordChallenge, AHostileChallengeListIsNamedBriefly)
{
    LoopbackServer server;
    NetworkThread thread("test.network");
    std::string many;
    for (int i = 0; i < 10000; ++i) many += i % 2 ? "Newauth, " : "Bearer, ";
    for (const auto& offered : {std::vector<std::string>{many, "Negotiate"}, std::vector<std::string>{std::string(60000, 'x')}}) {
        server.script("/h", {challenge(offered)});
        auto recorder = withPassword(std::make_shared<Asked>());
        startOn(thread, URLRequest(server.url("/h")), recorder);
        ASSERT_TRUE(recorder->waitForEnd());
        std::lock_guard lock(recorder->mutex);
        ASSERT_TRUE(recorder->error);
        EXPECT_EQ(recorder->error->code, URLErrorUserAuthenticationRequired);
        EXPECT_LT(recorder->error->description.size(), 300u) << recorder->error->description.substr(0, 300);
        if (offered.size() == 2) {
            EXPECT_TRUE(contains(recorder->error->description, "(Bearer, Newauth, Negotiate)")) << recorder->error->description.substr(0, 300);
        }
    }
}

// Only an expired nonce of the realm and scheme that were answered is renewed without asking: "stale"
// on another realm, or after a Basic answer, is a refusal put to the delegate.
TEST(PasswordChallenge, StaleOnAnotherRealmOrAfterBasicIsARefusal)
{
    LoopbackServer server;
    NetworkThread thread("test.network");
    const std::string otherRealm = R"(Digest realm="other", qop="auth", nonce="n2", stale=true)";
    for (const auto& first : {digest("n1"), challenge({"Basic realm=\"r\""})}) {
        server.script("/o", {first, challenge({otherRealm}), kWelcome});
        const int before = server.hits("/o");
        auto asked = std::make_shared<Asked>();
        auto recorder = withPassword(asked);
        startOn(thread, URLRequest(server.url("/o")), recorder);
        ASSERT_TRUE(recorder->waitForEnd());
        const bool basic = first.headers.front().second.rfind("Basic", 0) == 0;
        EXPECT_EQ(asked->all(), (std::vector<std::string>{basic ? "HTTPBasic r 0" : "HTTPDigest r 0", "HTTPDigest other 1"}));
        std::lock_guard lock(recorder->mutex);
        ASSERT_FALSE(recorder->error);
        EXPECT_EQ(recorder->response->statusCode, 401);
        EXPECT_EQ(server.hits("/o") - before, 2);
    }
}
