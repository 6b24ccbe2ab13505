#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/trust/Certificate.h"

// A certificate as the TLS library parsed it; opaque outside the trust layer.
struct x509_st;

namespace platform {

// Verdicts of an evaluation, numbered as callers of the trust layer expect them.
enum class TrustResult {
    Invalid = 0,
    Proceed = 1,
    Deny = 3,
    Unspecified = 4,
    RecoverableTrustFailure = 5,
    FatalTrustFailure = 6,
    OtherError = 7,
};

// What an evaluation checks beyond the chain itself: an SSL server policy (optionally for a host name or
// IP address) or a basic X.509 policy (chain only).
struct TrustPolicy {
    bool sslServer = false;
    std::optional<std::string> host;

    static TrustPolicy ssl(std::optional<std::string> host) { return TrustPolicy{true, std::move(host)}; }
    static TrustPolicy basicX509() { return TrustPolicy{}; }
};

// The certificate chain a TLS peer presented, with the policy and anchors it is judged by. Evaluation
// trusts the system's default CA store (OpenSSL's default locations, which honour SSL_CERT_FILE and
// SSL_CERT_DIR; read once, shared, and read again when either variable changes) unless anchor certificates
// were set, in which case only those are trusted.
class ServerTrust {
public:
    // The peer's own certificate first. Nothing when the chain is empty or a certificate does not parse.
    static std::optional<ServerTrust> create(std::vector<Bytes> chain, TrustPolicy policy);
    // The same for certificates a handshake already parsed (the peer's own first), shared rather than
    // decoded again: decoding a certificate costs more than verifying it.
    static std::optional<ServerTrust> adopt(const std::vector<x509_st*>& chain, TrustPolicy policy);

    void setPolicy(TrustPolicy policy) { m_policy = std::move(policy); }
    const TrustPolicy& policy() const { return m_policy; }
    void setAnchorCertificates(std::vector<Bytes> anchors) { m_anchors = std::move(anchors); }

    // False only when no evaluation could be made; the verdict goes to `result`. After a trusted
    // verdict the certificates are the verified chain up to its anchor, else the presented chain.
    bool evaluate(TrustResult& result);
    std::size_t certificateCount() const { return m_chain.size(); }
    const Bytes& certificateAt(std::size_t index) const { return m_chain.at(index); }
    // SubjectPublicKeyInfo (DER) of the peer's own certificate.
    std::optional<Bytes> copyPublicKey() const { return Certificate::publicKey(m_presented.front()); }
    // Why the last evaluation failed, one of the reasons below (empty after a trusted verdict).
    const std::string& failureReason() const { return m_failureReason; }

    static constexpr const char* kReasonExpired = "The server's certificate has expired.";
    static constexpr const char* kReasonNotYetValid = "The server's certificate is not valid yet.";
    static constexpr const char* kReasonWrongHost = "The server's certificate was issued for another host.";
    static constexpr const char* kReasonUnknownIssuer = "The server's certificate was issued by an unknown authority.";
    static constexpr const char* kReasonNoHost = "The address names no host to check the server's certificate against.";
    static constexpr const char* kReasonInvalid = "The server's certificate is invalid.";

private:
    ServerTrust(std::vector<Bytes> chain, std::vector<std::shared_ptr<x509_st>> parsed, TrustPolicy policy);

    std::vector<Bytes> m_presented;
    // m_presented, parsed once when the trust was made.
    std::vector<std::shared_ptr<x509_st>> m_parsed;
    std::vector<Bytes> m_chain;
    TrustPolicy m_policy;
    std::optional<std::vector<Bytes>> m_anchors;
    std::string m_failureReason;
};

}  // namespace platform
