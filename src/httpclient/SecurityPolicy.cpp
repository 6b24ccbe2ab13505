#include "httpclient/SecurityPolicy.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

using platform::ServerTrust;
using platform::TrustPolicy;
using platform::TrustResult;

bool ServerTrustIsValid(ServerTrust& serverTrust)
{
    TrustResult result;
    return serverTrust.evaluate(result) && (result == TrustResult::Unspecified || result == TrustResult::Proceed);
}

std::vector<Bytes> CertificateTrustChainForServerTrust(const ServerTrust& serverTrust)
{
    std::vector<Bytes> chain;
    for (std::size_t i = 0; i < serverTrust.certificateCount(); ++i) chain.push_back(serverTrust.certificateAt(i));
    return chain;
}

std::vector<Bytes> PublicKeyTrustChainForServerTrust(const ServerTrust& serverTrust)
{
    std::vector<Bytes> keys;
    for (std::size_t i = 0; i < serverTrust.certificateCount(); ++i)
        if (auto key = PublicKeyForCertificate(serverTrust.certificateAt(i))) keys.push_back(std::move(*key));
    return keys;
}

std::optional<Bytes> PublicKeyForCertificate(const Bytes& certificate)
{
    auto trust = ServerTrust::create({certificate}, TrustPolicy::basicX509());
    if (!trust) return std::nullopt;
    return trust->copyPublicKey();
}

bool SecKeyIsEqualToKey(const Bytes& key1, const Bytes& key2)
{
    return key1 == key2;
}

std::shared_ptr<SecurityPolicy> SecurityPolicy::defaultPolicy()
{
    return std::make_shared<SecurityPolicy>();
}

std::shared_ptr<SecurityPolicy> SecurityPolicy::policyWithPinningMode(SSLPinningMode mode)
{
    auto policy = std::make_shared<SecurityPolicy>();
    policy->setSSLPinningMode(mode);
    policy->setPinnedCertificates(defaultPinnedCertificates());
    return policy;
}

const std::vector<Bytes>& SecurityPolicy::defaultPinnedCertificates()
{
    static const std::vector<Bytes> certificates = [] {
        std::vector<Bytes> found;
        std::error_code error;
        const auto folder = std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
        if (error) return found;
        std::vector<std::filesystem::path> paths;
        // A folder that cannot be read pins what was found so far; nothing here may throw.
        for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
            std::error_code typeError;
            if (it->is_regular_file(typeError) && it->path().extension() == ".cer") paths.push_back(it->path());
        }
        std::sort(paths.begin(), paths.end());
        for (const auto& path : paths) {
            std::ifstream in(path, std::ios::binary);
            found.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return found;
    }();
    return certificates;
}

void SecurityPolicy::setPinnedCertificates(std::optional<std::vector<Bytes>> certificates)
{
    m_pinnedCertificates = std::move(certificates);
    if (!m_pinnedCertificates) {
        m_pinnedPublicKeys.reset();
        return;
    }
    std::vector<Bytes> keys;
    for (const Bytes& certificate : *m_pinnedCertificates)
        if (auto key = PublicKeyForCertificate(certificate)) keys.push_back(std::move(*key));
    m_pinnedPublicKeys = std::move(keys);
}

bool SecurityPolicy::evaluateServerTrust(ServerTrust& serverTrust, const std::optional<std::string>& domain,
                                         std::string* failureReason)
{
    std::string reason;
    const bool accepted = decide(serverTrust, domain, reason);
    if (failureReason) *failureReason = accepted ? std::string() : reason;
    return accepted;
}

bool SecurityPolicy::decide(ServerTrust& serverTrust, const std::optional<std::string>& domain, std::string& reason)
{
    serverTrust.setPolicy(m_validatesDomainName ? TrustPolicy::ssl(domain) : TrustPolicy::basicX509());
    auto valid = [&] {
        if (ServerTrustIsValid(serverTrust)) return true;
        reason = serverTrust.failureReason();
        return false;
    };

    if (m_mode == SSLPinningModeNone) return m_allowInvalidCertificates || valid();

    if (!valid() && !m_allowInvalidCertificates) return false;
    reason = kReasonPinMismatch;
    const std::vector<Bytes> serverCertificates = CertificateTrustChainForServerTrust(serverTrust);
    const std::vector<Bytes> pinnedCertificates = m_pinnedCertificates.value_or(std::vector<Bytes>{});

    if (m_mode == SSLPinningModePublicKey) {
        std::vector<Bytes> keys = PublicKeyTrustChainForServerTrust(serverTrust);
        if (!m_validatesCertificateChain && !keys.empty()) keys.resize(1);
        std::size_t matches = 0;
        for (const Bytes& key : keys)
            for (const Bytes& pinned : m_pinnedPublicKeys.value_or(std::vector<Bytes>{}))
                if (SecKeyIsEqualToKey(key, pinned)) ++matches;
        if (matches == 0) return false;
        return !m_validatesCertificateChain || matches == serverCertificates.size();
    }

    if (m_mode == SSLPinningModeCertificate) {
        // Data that is not a certificate can anchor nothing.
        std::vector<Bytes> anchors;
        for (const Bytes& pinned : pinnedCertificates)
            if (platform::Certificate::isCertificate(pinned)) anchors.push_back(pinned);
        serverTrust.setAnchorCertificates(anchors);
        if (!ServerTrustIsValid(serverTrust)) {
            // A chain that leads to no pinned anchor misses the pins; one that does but fails (expired,
            // another host) keeps that reason.
            if (serverTrust.failureReason() != ServerTrust::kReasonUnknownIssuer) reason = serverTrust.failureReason();
            return false;
        }
        if (!m_validatesCertificateChain) return true;
        // The chain as first evaluated, not the one ending at a pinned anchor: pinning only the server's
        // own certificate would make that one a chain of one, every certificate of it pinned.
        const auto pinnedCount = std::count_if(serverCertificates.begin(), serverCertificates.end(), [&](const Bytes& certificate) {
            return std::find(pinnedCertificates.begin(), pinnedCertificates.end(), certificate) != pinnedCertificates.end();
        });
        return static_cast<std::size_t>(pinnedCount) == serverCertificates.size();
    }
    reason = ServerTrust::kReasonInvalid;
    return false;
}
