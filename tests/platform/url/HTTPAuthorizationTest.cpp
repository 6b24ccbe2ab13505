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
    EXPECT_STREQ(HTTPAuthorization::authenticationMethod(*HTTPAuthorization::parse("Bearer")),
                 platform::kAuthenticationMethodDefault);

    for (const char* malformed : {"", "   ", "Digest realm=\"never closed", "Digest =x"})
        EXPECT_FALSE(HTTPAuthorization::parse(malformed)) << malformed;
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
    EXPECT_NE(answer->find("response=\"6629fae49393a05397450978507c4ef1\""), std::string::npos) << *answer;
    EXPECT_NE(answer->find("nc=00000001"), std::string::npos);
    EXPECT_NE(answer->find("cnonce=\"0a4f113b\""), std::string::npos);
    EXPECT_NE(answer->find("opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""), std::string::npos);
    EXPECT_EQ(answer->rfind("Digest username=\"Mufasa\"", 0), 0u);

    auto sha = HTTPAuthorization::parse(R"(Digest realm="r", nonce="n", algorithm=SHA-256)");
    EXPECT_FALSE(HTTPAuthorization::header(*sha, "GET", "/", "u", "p", 1, "c"));
    auto integrityOnly = HTTPAuthorization::parse(R"(Digest realm="r", nonce="n", qop="auth-int")");
    EXPECT_FALSE(HTTPAuthorization::header(*integrityOnly, "GET", "/", "u", "p", 1, "c"));
    auto noNonce = HTTPAuthorization::parse(R"(Digest realm="r")");
    EXPECT_FALSE(HTTPAuthorization::header(*noNonce, "GET", "/", "u", "p", 1, "c"));
    EXPECT_FALSE(HTTPAuthorization::header(*HTTPAuthorization::parse("Bearer realm=x"), "GET", "/", "u", "p", 1, "c"));
}

TEST(HTTPAuthorization, ReadsEveryChallengeOfAHeaderAndKnowsWhichItCanAnswer)
{
    auto schemes = [](const std::string& header) {
        std::vector<std::string> out;
        for (const auto& challenge : HTTPAuthorization::parseAll(header))
            out.push_back(challenge.scheme + (HTTPAuthorization::canAnswer(challenge) ? "+" : "-"));
        return out;
    };
    using List = std::vector<std::string>;
    EXPECT_EQ(schemes("Newauth realm=\"apps\", type=1, title=\"Login to \\\"apps\\\"\", Basic realm=\"simple\""),
              (List{"Newauth-", "Basic+"}));
    EXPECT_EQ(schemes("Negotiate abc+/==, NTLM, Digest realm=\"r\", nonce=\"n\", algorithm=MD5"),
              (List{"Negotiate-", "NTLM-", "Digest+"}));
    EXPECT_EQ(schemes(", ,Bearer ,Digest realm=\"r\", nonce=\"n\", algorithm=SHA-256, qop=\"auth\""), (List{"Bearer-", "Digest-"}));
    // A malformed challenge ends the list; those before it stand.
    EXPECT_EQ(schemes("Basic realm=\"r\", Digest realm=\"never closed"), (List{"Basic+"}));

    // The qop list's white space may be tabs as well as spaces.
    EXPECT_EQ(schemes("Digest realm=\"r\", nonce=\"n\", qop=\"auth-int,\tauth\""), (List{"Digest+"}));
    EXPECT_EQ(schemes("Digest realm=\"r\", nonce=\"n\", qop=\"\tauth\t , auth-int\""), (List{"Digest+"}));

    auto stale = HTTPAuthorization::parse(R"(Digest realm="r", nonce="n2", stale=TRUE)");
    EXPECT_TRUE(HTTPAuthorization::isStale(*stale));
    EXPECT_FALSE(HTTPAuthorization::isStale(*HTTPAuthorization::parse(R"(Digest realm="r", nonce="n2", stale=false)")));
}

// A user name a quoted string cannot carry goes as an extended value, percent-encoded, and the digest is
// still that of the name itself.
TEST(HTTPAuthorization, AUserNameWithALineBreakNeverBreaksTheHeader)
{
    auto digest = HTTPAuthorization::parse(R"(Digest realm="r", nonce="n", qop="auth")");
    const std::string user = std::string("ada\r\nX-Injected: yes\0\x7f\"", 23);
    auto answer = HTTPAuthorization::header(*digest, "GET", "/", user, "pw", 1, "c");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->find_first_of(std::string("\r\n\0", 3)), std::string::npos);
    EXPECT_EQ(answer->rfind("Digest username*=UTF-8''ada%0D%0AX-Injected%3A%20yes%00%7F%22, realm=", 0), 0u) << *answer;
    auto plain = HTTPAuthorization::header(*digest, "GET", "/", "ada \"q\"\tz", "pw", 1, "c");
    EXPECT_EQ(plain->rfind("Digest username=\"ada \\\"q\\\"\tz\"", 0), 0u) << *plain;
}
