#include "platform/trust/ServerTrustCheck.h"
#include "platform/trust/X509Der.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace platform {

namespace {

int verifyChain(X509_STORE_CTX* context, void* argument)
{
    auto* handler = static_cast<ServerTrustHandler*>(argument);
    X509* leaf = X509_STORE_CTX_get0_cert(context);
    std::vector<X509*> chain;
    if (leaf) chain.push_back(leaf);
    if (STACK_OF(X509)* presented = X509_STORE_CTX_get0_untrusted(context)) {
        for (int i = 0; i < sk_X509_num(presented); ++i) {
            X509* cert = sk_X509_value(presented, i);
            if (leaf && X509_cmp(cert, leaf) == 0) continue;
            chain.push_back(cert);
        }
    }
    std::optional<ServerTrust> trust = ServerTrust::adopt(chain, TrustPolicy::basicX509());
    const bool accepted = trust && handler->acceptServerTrust(*trust);
    if (!accepted) X509_STORE_CTX_set_error(context, X509_V_ERR_CERT_REJECTED);
    return accepted ? 1 : 0;
}

}  // namespace

void installServerTrustCheck(void* sslContext, ServerTrustHandler* handler)
{
    auto* context = static_cast<SSL_CTX*>(sslContext);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(context, verifyChain, handler);
}

}  // namespace platform
