#include <gtest/gtest.h>

#include <cstdlib>

#include "support/server/HttpFixture.h"
#include "httpclient/HTTPResponseSerializer.h"
#include "platform/bundle/Bundle.h"
#include "platform/url/URLError.h"
#include "support/server/TestCertificates.h"

using namespace platform;
using support::LoopbackServer;
using support::TestCertificates;

namespace {

struct Tls {
    support::TestIdentity authority = TestCertificates::makeAuthority("Catalogue Root");
    support::TestIdentity identity = TestCertificates::makeServer(authority, "localhost", {"DNS:localhost"});
    support::TestIdentity strangerAuthority = TestCertificates::makeAuthority("Stranger Root");
    support::TestIdentity stranger = TestCertificates::makeServer(strangerAuthority, "localhost", {"DNS:localhost"});
};

// The system store, for this process, trusts the test's authority.
void trustAuthority(const support::TestIdentity& authority)
{
    setenv("SSL_CERT_FILE", TestCertificates::writeTemporaryFile("ca.pem", authority.certificatePEM).c_str(), 1);
}

std::shared_ptr<SecurityPolicy> pinning(SSLPinningMode mode, std::vector<Bytes> pins, bool chain, bool allowInvalid)
{
    auto policy = SecurityPolicy::defaultPolicy();
    policy->setSSLPinningMode(mode);
    policy->setPinnedCertificates(std::move(pins));
    policy->setValidatesCertificateChain(chain);
    policy->setAllowInvalidCertificates(allowInvalid);
    return policy;
}

}  // namespace

TEST(SecurityPolicy, DefaultPolicyOverHttpsAndRefusalsSayWhy)
{
    HttpFixture fixture;
    Tls tls;
    LoopbackServer server(tls.identity);
    server.serve("/catalogue.json", "{}", "application/json");

    auto unknown = fixture.run(fixture.operation(server.url("/catalogue.json", "localhost")));
    ASSERT_FALSE(unknown.succeeded);
    EXPECT_EQ(unknown.error->code, URLErrorUserCancelledAuthentication);

    trustAuthority(tls.authority);
    auto valid = fixture.run(fixture.operation(server.url("/catalogue.json", "localhost")));
    EXPECT_TRUE(valid.succeeded);
    // The certificate names localhost, not the address (the spellings of the address are the connection's).
    auto wrongHost = fixture.run(fixture.operation(server.url("/catalogue.json", "127.0.0.1")));
    EXPECT_EQ(wrongHost.error ? wrongHost.error->description : "", HTTPClientTexts().text(ServerTrust::kReasonWrongHost));

    auto noDomainCheck = fixture.operation(server.url("/catalogue.json", "127.0.0.1"));
    auto policy = SecurityPolicy::defaultPolicy();
    policy->setValidatesDomainName(false);
    noDomainCheck->setSecurityPolicy(policy);
    EXPECT_TRUE(fixture.run(noDomainCheck).succeeded);
    unsetenv("SSL_CERT_FILE");
    EXPECT_EQ(server.hits("/catalogue.json"), 2);
    // Every refusal says why, in Japanese too.
    trustAuthority(tls.authority);
    const auto expired = TestCertificates::makeServer(tls.authority, "localhost", {"DNS:localhost"}, true);
    const auto japanese = loadHTTPClientTexts(Bundle::main(), "ja");
    auto reasonFor = [&](const support::TestIdentity& presented, std::shared_ptr<SecurityPolicy> judge, std::string host) {
        auto trust = *ServerTrust::create({presented.certificateDER}, TrustPolicy::basicX509());
        std::string reason;
        EXPECT_FALSE(judge->evaluateServerTrust(trust, host, &reason));
        EXPECT_NE(japanese.text(reason), reason) << "every reason reads in Japanese too";
        return reason;
    };
    EXPECT_EQ(reasonFor(tls.identity, SecurityPolicy::defaultPolicy(), ""), ServerTrust::kReasonNoHost);
    EXPECT_EQ(reasonFor(expired, SecurityPolicy::defaultPolicy(), "localhost"), ServerTrust::kReasonExpired);
    EXPECT_EQ(reasonFor(tls.identity, pinning(SSLPinningModePublicKey, {tls.stranger.certificateDER}, false, false), "localhost"),
              SecurityPolicy::kReasonPinMismatch);
    EXPECT_EQ(reasonFor(tls.identity, pinning(SSLPinningModeCertificate, {tls.strangerAuthority.certificateDER}, false, false), "localhost"),
              SecurityPolicy::kReasonPinMismatch);
    EXPECT_EQ(reasonFor(expired, pinning(SSLPinningModeCertificate, {tls.authority.certificateDER}, false, false), "localhost"),
              ServerTrust::kReasonExpired);
    unsetenv("SSL_CERT_FILE");
}

TEST(SecurityPolicy, PinningOverHttpsIsCheckedOnEveryConnection)
{
    HttpFixture fixture;
    Tls tls;
    trustAuthority(tls.authority);
    LoopbackServer server(tls.identity);
    server.keepConnectionsAlive();
    server.serve("/a", "a");
    // "Https:" once let the connection be reused past the check.
    const std::string url = "Https" + server.url("/a", "localhost").substr(5);
    auto runWith = [&](std::shared_ptr<SecurityPolicy> policy) {
        auto operation = fixture.operation(url);
        operation->setSecurityPolicy(std::move(policy));
        return fixture.run(operation).succeeded;
    };
    EXPECT_TRUE(runWith(SecurityPolicy::defaultPolicy()));
    // Right after a trusted connection to the same server, a wrong pin still fails: no reused
    // connection or resumed session skips the check.
    EXPECT_FALSE(runWith(pinning(SSLPinningModeCertificate, {tls.stranger.certificateDER}, false, false)));
    EXPECT_FALSE(runWith(pinning(SSLPinningModePublicKey, {tls.stranger.certificateDER}, false, false)));
    EXPECT_TRUE(runWith(pinning(SSLPinningModePublicKey, {tls.identity.certificateDER}, false, false)));
    EXPECT_TRUE(runWith(pinning(SSLPinningModeCertificate, {tls.authority.certificateDER}, false, false)));
    // With chain validation every certificate of the chain (server and root) must be pinned.
    EXPECT_FALSE(runWith(pinning(SSLPinningModeCertificate, {tls.authority.certificateDER}, true, false)));
    EXPECT_TRUE(runWith(pinning(SSLPinningModeCertificate, {tls.identity.certificateDER, tls.authority.certificateDER}, true, false)));
    // Pinning the server's own certificate alone leaves the root of its chain unpinned.
    EXPECT_FALSE(runWith(pinning(SSLPinningModeCertificate, {tls.identity.certificateDER}, true, false)));
    EXPECT_TRUE(runWith(pinning(SSLPinningModeCertificate, {tls.identity.certificateDER}, false, false)));
    EXPECT_FALSE(runWith(pinning(SSLPinningModePublicKey, {tls.identity.certificateDER}, true, false)));
    EXPECT_TRUE(runWith(pinning(SSLPinningModePublicKey, {tls.identity.certificateDER, tls.authority.certificateDER}, true, false)));
    unsetenv("SSL_CERT_FILE");
}

TEST(SecurityPolicy, PinningDecisionsOnAPresentedChain)
{
    Tls tls;
    // An authority nobody trusts: pinning with invalid certificates allowed decides alone.
    auto strangerTrust = *ServerTrust::create({tls.stranger.certificateDER}, TrustPolicy::basicX509());
    EXPECT_FALSE(SecurityPolicy::defaultPolicy()->evaluateServerTrust(strangerTrust, "localhost"));
    auto anything = SecurityPolicy::defaultPolicy();
    anything->setAllowInvalidCertificates(true);
    EXPECT_TRUE(anything->evaluateServerTrust(strangerTrust, "elsewhere"));

    // Unverified, the chain is the single presented certificate: one match per certificate, and a key
    // pinned twice counts twice.
    const struct { SSLPinningMode mode; std::vector<Bytes> pins; bool chain, allowInvalid, trusted; } decisions[] = {
        {SSLPinningModePublicKey, {tls.stranger.certificateDER}, false, false, false},
        {SSLPinningModePublicKey, {tls.identity.certificateDER, tls.stranger.certificateDER}, false, true, true},
        {SSLPinningModePublicKey, {tls.stranger.certificateDER}, true, true, true},
        {SSLPinningModePublicKey, {tls.stranger.certificateDER, tls.stranger.certificateDER}, true, true, false},
        {SSLPinningModeCertificate, {tls.strangerAuthority.certificateDER}, false, true, true},
        {SSLPinningModeCertificate, {tls.authority.certificateDER, Bytes{1, 2}}, false, true, false},
        {static_cast<SSLPinningMode>(7), {}, false, true, false},
    };
    for (const auto& d : decisions)
        EXPECT_EQ(pinning(d.mode, d.pins, d.chain, d.allowInvalid)->evaluateServerTrust(strangerTrust, "localhost"), d.trusted) << &d - decisions;

    SecurityPolicy policy;
    policy.setPinnedCertificates(std::vector<Bytes>{Bytes{1, 2, 3}, tls.identity.certificateDER});
    EXPECT_EQ(policy.pinnedCertificates()->size(), 2u);
    ASSERT_EQ(policy.pinnedPublicKeys()->size(), 1u);
    EXPECT_EQ(policy.pinnedPublicKeys()->front(), tls.identity.publicKeyDER);
    policy.setPinnedCertificates(std::nullopt);
    EXPECT_FALSE(policy.pinnedPublicKeys());

    // No ".cer" files beside the test program: nothing pinned, so public-key pinning refuses all.
    EXPECT_TRUE(SecurityPolicy::defaultPinnedCertificates().empty());
    auto fromBundle = SecurityPolicy::policyWithPinningMode(SSLPinningModePublicKey);
    fromBundle->setAllowInvalidCertificates(true);
    EXPECT_FALSE(fromBundle->evaluateServerTrust(strangerTrust, "localhost"));
}
