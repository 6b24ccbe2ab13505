#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include <openssl/x509.h>

#include "platform/trust/ServerTrust.h"
#include "support/server/TestCertificates.h"

using namespace platform;
using support::TestCertificates;

namespace {

struct Chain {
    support::TestIdentity authority = TestCertificates::makeAuthority("Test Root");
    support::TestIdentity server = TestCertificates::makeServer(authority, "localhost", {"DNS:localhost", "IP:127.0.0.1"});
};

bool trusted(ServerTrust& trust)
{
    TrustResult result;
    return trust.evaluate(result) && (result == TrustResult::Unspecified || result == TrustResult::Proceed);
}

}  // namespace

TEST(ServerTrust, AnchorsHostNamesAndAddressesDecide)
{
    Chain chain, stranger;
    auto trust = ServerTrust::create({chain.server.certificateDER}, TrustPolicy::ssl("localhost"));
    ASSERT_TRUE(trust);
    trust->setAnchorCertificates({chain.authority.certificateDER});
    EXPECT_TRUE(trusted(*trust));
    // The verified chain reaches the anchor.
    ASSERT_EQ(trust->certificateCount(), 2u);
    EXPECT_EQ(trust->certificateAt(1), chain.authority.certificateDER);
    // Each step changes the policy (the basic one checks the chain only) or the anchors (a pinned server
    // certificate is an anchor by itself) of the same trust.
    const struct { const char* name; std::function<void()> change; bool trusted; } steps[] = {
        {"the address", [&] { trust->setPolicy(TrustPolicy::ssl("127.0.0.1")); }, true},
        {"another host", [&] { trust->setPolicy(TrustPolicy::ssl("example.org")); }, false},
        {"another address", [&] { trust->setPolicy(TrustPolicy::ssl("127.0.0.2")); }, false},
        {"the chain only", [&] { trust->setPolicy(TrustPolicy::basicX509()); }, true},
        {"a stranger's anchor", [&] { trust->setAnchorCertificates({stranger.authority.certificateDER}); }, false},
        {"the server pinned", [&] { trust->setAnchorCertificates({chain.server.certificateDER}); }, true},
    };
    for (const auto& step : steps) {
        step.change();
        EXPECT_EQ(trusted(*trust), step.trusted) << step.name;
        if (!step.trusted) {
            EXPECT_FALSE(trust->failureReason().empty()) << step.name;
            EXPECT_EQ(trust->certificateCount(), 1u) << step.name;
        }
    }
}

// Certificates a handshake parsed are judged as the same chain given as bytes would be, and stay the
// trust's own after the handshake lets go of them. What is no certificate is refused; keys are read.
TEST(ServerTrust, AnAdoptedChainIsJudgedAsItsBytesAreAndWhatIsNoCertificateIsRefused)
{
    Chain chain, stranger;
    EXPECT_FALSE(ServerTrust::create({}, TrustPolicy::basicX509()));
    EXPECT_FALSE(ServerTrust::create({Bytes{0x30, 0x03, 0x02, 0x01, 0x01}}, TrustPolicy::basicX509()));
    Bytes trailing = chain.server.certificateDER;
    trailing.push_back(0);
    EXPECT_FALSE(Certificate::isCertificate(trailing));

    EXPECT_EQ(Certificate::publicKey(chain.server.certificateDER), chain.server.publicKeyDER);
    EXPECT_FALSE(Certificate::publicKey(Bytes{1, 2, 3}));
    EXPECT_EQ(Certificate::derFromPEM(chain.authority.certificatePEM), chain.authority.certificateDER);
    EXPECT_EQ(Certificate::derFromPEM(Certificate::pemFromDER(chain.server.certificateDER)), chain.server.certificateDER);
    auto trust = ServerTrust::create({chain.server.certificateDER, chain.authority.certificateDER}, TrustPolicy::basicX509());
    EXPECT_EQ(trust->copyPublicKey(), chain.server.publicKeyDER);

    const auto parse = [](const Bytes& der) {
        const unsigned char* cursor = der.data();
        return d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
    };
    EXPECT_FALSE(ServerTrust::adopt({}, TrustPolicy::basicX509()));
    EXPECT_FALSE(ServerTrust::adopt({nullptr}, TrustPolicy::basicX509()));
    const struct {
        const char* host;
        std::vector<Bytes> anchors;
        bool trusted;
    } cases[] = {{"localhost", {chain.authority.certificateDER}, true},
                 {"127.0.0.1", {chain.authority.certificateDER}, true},
                 {"example.org", {chain.authority.certificateDER}, false},
                 {"localhost", {stranger.authority.certificateDER}, false},
                 {"localhost", {chain.server.certificateDER}, true}};
    for (const auto& c : cases) {
        X509* server = parse(chain.server.certificateDER);
        X509* authority = parse(chain.authority.certificateDER);
        auto adopted = ServerTrust::adopt({server, authority}, TrustPolicy::ssl(c.host));
        X509_free(server);
        X509_free(authority);
        auto given = ServerTrust::create({chain.server.certificateDER, chain.authority.certificateDER}, TrustPolicy::ssl(c.host));
        ASSERT_TRUE(adopted && given) << c.host;
        adopted->setAnchorCertificates(c.anchors);
        given->setAnchorCertificates(c.anchors);
        EXPECT_EQ(trusted(*adopted), c.trusted) << c.host;
        EXPECT_EQ(trusted(*given), c.trusted) << c.host;
        EXPECT_EQ(adopted->failureReason(), given->failureReason()) << c.host;
        ASSERT_EQ(adopted->certificateCount(), given->certificateCount()) << c.host;
        for (std::size_t i = 0; i < given->certificateCount(); ++i)
            EXPECT_EQ(adopted->certificateAt(i), given->certificateAt(i)) << c.host;
        EXPECT_EQ(adopted->copyPublicKey(), chain.server.publicKeyDER);
    }
}

// The default store is read once and shared, but follows SSL_CERT_FILE and SSL_CERT_DIR: each change of
// either decides the next evaluation, also from several threads at once.
TEST(ServerTrust, TheDefaultStoreFollowsTheCertificateVariables)
{
    Chain first, second;
    const std::string firstFile = TestCertificates::writeTemporaryFile("first.pem", first.authority.certificatePEM);
    const std::string bothFile = TestCertificates::writeTemporaryFile(
        "both.pem", first.authority.certificatePEM + second.authority.certificatePEM);
    const std::string emptyDirectory = std::filesystem::path(firstFile).parent_path().string();
    const struct { const char* file; const char* directory; bool firstTrusted; bool secondTrusted; } rows[] = {
        {firstFile.c_str(), emptyDirectory.c_str(), true, false},
        {bothFile.c_str(), emptyDirectory.c_str(), true, true},
        {firstFile.c_str(), emptyDirectory.c_str(), true, false},
        {"/nonexistent/bundle.pem", emptyDirectory.c_str(), false, false},
        {firstFile.c_str(), nullptr, true, false},
    };
    for (const auto& row : rows) {
        setenv("SSL_CERT_FILE", row.file, 1);
        if (row.directory) setenv("SSL_CERT_DIR", row.directory, 1);
        else unsetenv("SSL_CERT_DIR");
        std::vector<std::thread> threads;
        std::atomic<int> firstCount{0}, secondCount{0};
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&] {
                auto one = ServerTrust::create({first.server.certificateDER}, TrustPolicy::ssl("localhost"));
                auto two = ServerTrust::create({second.server.certificateDER}, TrustPolicy::ssl("localhost"));
                if (one && trusted(*one)) ++firstCount;
                if (two && trusted(*two)) ++secondCount;
            });
        for (auto& thread : threads) thread.join();
        EXPECT_EQ(firstCount, row.firstTrusted ? 4 : 0) << row.file;
        EXPECT_EQ(secondCount, row.secondTrusted ? 4 : 0) << row.file;
    }
    unsetenv("SSL_CERT_FILE");
    unsetenv("SSL_CERT_DIR");
}
