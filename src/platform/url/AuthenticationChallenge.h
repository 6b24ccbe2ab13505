#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

#include "platform/trust/ServerTrust.h"

namespace platform {

inline constexpr const char* kAuthenticationMethodServerTrust = "ServerTrust";
inline constexpr const char* kAuthenticationMethodHTTPBasic = "HTTPBasic";
inline constexpr const char* kAuthenticationMethodHTTPDigest = "HTTPDigest";
inline constexpr const char* kAuthenticationMethodDefault = "Default";

// Where a challenge comes from. For server trust it carries the chain the server presented.
struct ProtectionSpace {
    ProtectionSpace(std::string h, std::string method, ServerTrust* trust = nullptr, std::string r = {})
        : host(std::move(h)), authenticationMethod(std::move(method)), serverTrust(trust), realm(std::move(r))
    {
    }

    std::string host;
    std::string authenticationMethod;
    ServerTrust* serverTrust = nullptr;
    // For HTTP authentication: the realm the server named.
    std::string realm;
};

// An answer that accepts what was challenged: for server trust, the presented chain; for HTTP
// authentication, a user name and password.
struct URLCredential {
    const ServerTrust* trust = nullptr;
    std::string user;
    std::string password;
    static URLCredential credentialForTrust(const ServerTrust& trust) { return URLCredential{&trust, {}, {}}; }
    static URLCredential credentialWithUser(std::string user, std::string password)
    {
        return URLCredential{nullptr, std::move(user), std::move(password)};
    }
};

// A question the connection asks its delegate while it connects. The delegate answers before returning
// (the handshake waits for the answer); a challenge left unanswered is cancelled.
class AuthenticationChallenge {
public:
    enum class Disposition { Unanswered, UseCredential, ContinueWithoutCredential, Cancel };

    explicit AuthenticationChallenge(ProtectionSpace space, std::size_t previousFailures = 0)
        : m_space(std::move(space)), m_previousFailures(previousFailures)
    {
    }

    const ProtectionSpace& protectionSpace() const { return m_space; }
    std::size_t previousFailureCount() const { return m_previousFailures; }

    void useCredential(const URLCredential& credential)
    {
        m_disposition = Disposition::UseCredential;
        m_credential = credential;
    }
    // For server trust: the standard evaluation for the host decides.
    void continueWithoutCredential() { m_disposition = Disposition::ContinueWithoutCredential; }
    // `reason` says why, for the error the connection then fails with.
    void cancelAuthenticationChallenge(std::string reason = {})
    {
        m_disposition = Disposition::Cancel;
        m_cancelReason = std::move(reason);
    }

    Disposition disposition() const { return m_disposition; }
    // The credential of a UseCredential answer.
    const std::optional<URLCredential>& credential() const { return m_credential; }
    const std::string& cancelReason() const { return m_cancelReason; }

private:
    ProtectionSpace m_space;
    std::size_t m_previousFailures = 0;
    Disposition m_disposition = Disposition::Unanswered;
    std::optional<URLCredential> m_credential;
    std::string m_cancelReason;
};

}  // namespace platform
