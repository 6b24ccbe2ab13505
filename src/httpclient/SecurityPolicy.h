#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/trust/ServerTrust.h"

using Bytes = std::vector<std::uint8_t>;

enum SSLPinningMode : unsigned {
    SSLPinningModeNone = 0,
    SSLPinningModePublicKey = 1,
    SSLPinningModeCertificate = 2,
};

// Decides whether the certificate chain a server presented for a host is accepted: the standard
// host-checked evaluation, optionally narrowed to pinned certificates or pinned public keys.
class SecurityPolicy {
public:
    SecurityPolicy() = default;

    static std::shared_ptr<SecurityPolicy> defaultPolicy();
    static std::shared_ptr<SecurityPolicy> policyWithPinningMode(SSLPinningMode mode);
    // The DER data of every ".cer" file beside the running program, read once, in name order.
    static const std::vector<Bytes>& defaultPinnedCertificates();

    SSLPinningMode pinningMode() const { return m_mode; }
    void setSSLPinningMode(SSLPinningMode mode) { m_mode = mode; }
    bool validatesCertificateChain() const { return m_validatesCertificateChain; }
    void setValidatesCertificateChain(bool value) { m_validatesCertificateChain = value; }
    bool validatesDomainName() const { return m_validatesDomainName; }
    void setValidatesDomainName(bool value) { m_validatesDomainName = value; }
    bool allowInvalidCertificates() const { return m_allowInvalidCertificates; }
    void setAllowInvalidCertificates(bool value) { m_allowInvalidCertificates = value; }

    const std::optional<std::vector<Bytes>>& pinnedCertificates() const { return m_pinnedCertificates; }
    // Also recomputes the pinned public keys (a certificate without a readable key adds none).
    void setPinnedCertificates(std::optional<std::vector<Bytes>> certificates);
    const std::optional<std::vector<Bytes>>& pinnedPublicKeys() const { return m_pinnedPublicKeys; }

    // A refused trust leaves why in `failureReason`: one of ServerTrust's reasons or kReasonPinMismatch.
    bool evaluateServerTrust(platform::ServerTrust& serverTrust, const std::optional<std::string>& domain,
                             std::string* failureReason = nullptr);
    bool evaluateServerTrust(platform::ServerTrust& serverTrust) { return evaluateServerTrust(serverTrust, std::nullopt); }

    static constexpr const char* kReasonPinMismatch = "The server's certificate does not match the pinned certificates.";

private:
    bool decide(platform::ServerTrust& serverTrust, const std::optional<std::string>& domain, std::string& reason);

    SSLPinningMode m_mode = SSLPinningModeNone;
    bool m_validatesCertificateChain = true;
    bool m_validatesDomainName = true;
    bool m_allowInvalidCertificates = false;
    std::optional<std::vector<Bytes>> m_pinnedCertificates;
    std::optional<std::vector<Bytes>> m_pinnedPublicKeys;
};

bool ServerTrustIsValid(platform::ServerTrust& serverTrust);
std::vector<Bytes> CertificateTrustChainForServerTrust(const platform::ServerTrust& serverTrust);
std::vector<Bytes> PublicKeyTrustChainForServerTrust(const platform::ServerTrust& serverTrust);
std::optional<Bytes> PublicKeyForCertificate(const Bytes& certificate);
// Keys are compared as their DER SubjectPublicKeyInfo.
bool SecKeyIsEqualToKey(const Bytes& key1, const Bytes& key2);
