#pragma once

#include <cstddef>
#include <string>

#include "platform/trust/ServerTrust.h"

namespace platform {

inline constexpr const char* kAuthenticationMethodServerTrust = "ServerTrust";

// Where a challenge comes from. For server trust it carries the chain the server presented.
struct ProtectionSpace {
    std::string host;
    std::string authenticationMethod;
    ServerTrust* serverTrust = nullptr;
};

// An answer that accepts what was challenged; for server trust, the presented chain.
struct URLCredential {
    const ServerTrust* trust = nullptr;
    static URLCredential credentialForTrust(const ServerTrust& trust) { return URLCredential{&trust}; }
};

// A question the connection asks its delegate while it connects. The delegate answers before returning
// (the handshake waits for the answer); a challenge left unanswered is cancelled.
class AuthenticationChallenge {
public:
    enum class Disposition { Unanswered, UseCredential, ContinueWithoutCredential, Cancel };

    explicit AuthenticationChallenge(ProtectionSpace space) : m_space(std::move(space)) {}

    const ProtectionSpace& protectionSpace() const { return m_space; }
    std::size_t previousFailureCount() const { return 0; }

    void useCredential(const URLCredential&) { m_disposition = Disposition::UseCredential; }
    // For server trust: the standard evaluation for the host decides.
    void continueWithoutCredential() { m_disposition = Disposition::ContinueWithoutCredential; }
    // `reason` says why, for the error the connection then fails with.
    void cancelAuthenticationChallenge(std::string reason = {})
    {
        m_disposition = Disposition::Cancel;
        m_cancelReason = std::move(reason);
    }

    Disposition disposition() const { return m_disposition; }
    const std::string& cancelReason() const { return m_cancelReason; }

private:
    ProtectionSpace m_space;
    Disposition m_disposition = Disposition::Unanswered;
    std::string m_cancelReason;
};

}  // namespace platform
