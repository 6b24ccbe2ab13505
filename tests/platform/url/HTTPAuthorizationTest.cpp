#include <gtest/gtest.h>

#include "platform/url/AuthenticationChallenge.h"
#include "platform/url/HTTPAuthorization.h"

using platform::HTTPAuthorization;

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

TEST(HTTPAuthorization, AnswersBasicAndMD5DigestAndNothingElse)
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

// A user name a quoted string cannot carry goes as an extended value, percent-encoded, and the digest is
// still that of the name itself.
TEST(HTTPAuthorization, AUserNameWithALineBreakNeverBreaksTheHeader)
{
    auto digest = HTTPAuthorization::parse(R"(Digest realm="r", nonce="n", qop="auth")");
    auto answer = HTTPAuthorization::header(*digest, "GET", "/", std::string("ada\r\nX-Injected: yes\0\x7f\"", 23), "pw", 1, "c");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->find_first_of(std::string("\r\n\0", 3)), std::string::npos);
    EXPECT_EQ(answer->rfind("Digest username*=UTF-8''ada%0D%0AX-Injected%3A%20yes%00%7F%22, realm=", 0), 0u) << *answer;
    auto plain = HTTPAuthorization::header(*digest, "GET", "/", "ada \"q\"\tz", "pw", 1, "c");
    EXPECT_EQ(plain->rfind("Digest username=\"ada \\\"q\\\"\tz\"", 0), 0u) << *plain;
}
