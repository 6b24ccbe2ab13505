#pragma once

#include "platform/trust/ServerTrust.h"

namespace platform {

// Decides, during a TLS handshake, whether the chain the server presented is accepted. It runs on the
// thread doing the handshake and must answer at once.
class ServerTrustHandler {
public:
    virtual ~ServerTrustHandler() = default;
    virtual bool acceptServerTrust(ServerTrust& trust) = 0;
};

// Replaces the chain verification of every handshake made with an OpenSSL SSL_CTX (passed untyped so
// callers need no OpenSSL headers) by the handler's decision. The handler must outlive the handshakes.
// The handler sees the chain under a basic X.509 policy; it sets the policy it wants before evaluating.
void installServerTrustCheck(void* sslContext, ServerTrustHandler* handler);

}  // namespace platform
