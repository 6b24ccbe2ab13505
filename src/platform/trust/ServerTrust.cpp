#include "platform/trust/ServerTrust.h"
#include "platform/trust/X509Der.h"

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace platform {

namespace {

struct Free {
    void operator()(X509* x) const { X509_free(x); }
    void operator()(X509_STORE* s) const { X509_STORE_free(s); }
    void operator()(X509_STORE_CTX* c) const { X509_STORE_CTX_free(c); }
    void operator()(STACK_OF(X509) * s) const { sk_X509_pop_free(s, X509_free); }
};
template <typename T>
using Owned = std::unique_ptr<T, Free>;

// Nothing unless the bytes are exactly one certificate.
Owned<X509> parse(const Bytes& der)
{
    const unsigned char* cursor = der.data();
    Owned<X509> cert(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    if (cert && cursor != der.data() + der.size()) cert.reset();
    return cert;
}

std::shared_ptr<X509> shared(X509* cert)
{
    return std::shared_ptr<X509>(cert, [](X509* x) { X509_free(x); });
}

bool isIPAddress(const std::string& host)
{
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

// Our words for why a chain was refused: what a reader can act on, whatever OpenSSL calls it.
const char* reasonFor(int verifyError)
{
    switch (verifyError) {
    case X509_V_ERR_CERT_HAS_EXPIRED: return ServerTrust::kReasonExpired;
    case X509_V_ERR_CERT_NOT_YET_VALID: return ServerTrust::kReasonNotYetValid;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return ServerTrust::kReasonWrongHost;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN: return ServerTrust::kReasonUnknownIssuer;
    default: return ServerTrust::kReasonInvalid;
    }
}

std::optional<std::string> environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

// The system's default CA store, read once and shared by every evaluation: parsing the bundle costs
// milliseconds, far more than the verification itself. It is read again only when the variables that
// point OpenSSL's default locations elsewhere change. Each evaluation holds its own reference, so a store
// replaced meanwhile stays alive until the evaluations using it end; verification only reads the store.
Owned<X509_STORE> sharedDefaultStore()
{
    static std::mutex mutex;
    static Owned<X509_STORE> store;
    static std::optional<std::string> file, directory;
    const auto currentFile = environment("SSL_CERT_FILE");
    const auto currentDirectory = environment("SSL_CERT_DIR");
    std::lock_guard lock(mutex);
    if (!store || currentFile != file || currentDirectory != directory) {
        Owned<X509_STORE> fresh(X509_STORE_new());
        if (!fresh || X509_STORE_set_default_paths(fresh.get()) != 1) return nullptr;
        store = std::move(fresh);
        file = currentFile;
        directory = currentDirectory;
    }
    if (X509_STORE_up_ref(store.get()) != 1) return nullptr;
    return Owned<X509_STORE>(store.get());
}

}  // namespace

ServerTrust::ServerTrust(std::vector<Bytes> chain, std::vector<std::shared_ptr<x509_st>> parsed, TrustPolicy policy)
    : m_presented(std::move(chain)), m_parsed(std::move(parsed)), m_chain(m_presented), m_policy(std::move(policy))
{
}

std::optional<ServerTrust> ServerTrust::create(std::vector<Bytes> chain, TrustPolicy policy)
{
    if (chain.empty()) return std::nullopt;
    std::vector<std::shared_ptr<x509_st>> parsed;
    for (const Bytes& der : chain) {
        Owned<X509> cert = parse(der);
        if (!cert) return std::nullopt;
        parsed.push_back(shared(cert.release()));
    }
    return ServerTrust(std::move(chain), std::move(parsed), std::move(policy));
}

std::optional<ServerTrust> ServerTrust::adopt(const std::vector<x509_st*>& chain, TrustPolicy policy)
{
    if (chain.empty()) return std::nullopt;
    std::vector<Bytes> ders;
    std::vector<std::shared_ptr<x509_st>> parsed;
    for (X509* cert : chain) {
        Bytes der = cert ? derOfX509(cert) : Bytes{};
        if (der.empty() || X509_up_ref(cert) != 1) return std::nullopt;
        parsed.push_back(shared(cert));
        ders.push_back(std::move(der));
    }
    return ServerTrust(std::move(ders), std::move(parsed), std::move(policy));
}

bool ServerTrust::evaluate(TrustResult& result)
{
    result = TrustResult::Invalid;
    m_chain = m_presented;
    // Until a verdict says otherwise, including when no evaluation can be made.
    m_failureReason = kReasonInvalid;

    Owned<X509_STORE> store(m_anchors ? X509_STORE_new() : sharedDefaultStore().release());
    Owned<X509_STORE_CTX> context(X509_STORE_CTX_new());
    Owned<STACK_OF(X509)> untrusted(sk_X509_new_null());
    X509* leaf = m_parsed.front().get();
    if (!store || !context || !untrusted || !leaf) return false;

    if (m_anchors) {
        for (const Bytes& der : *m_anchors) {
            Owned<X509> anchor = parse(der);
            if (anchor) X509_STORE_add_cert(store.get(), anchor.get());
        }
        // A pinned anchor may be the peer's own or an intermediate certificate, not only a root.
        X509_STORE_set_flags(store.get(), X509_V_FLAG_PARTIAL_CHAIN);
    }
    for (std::size_t i = 1; i < m_parsed.size(); ++i) {
        X509* cert = m_parsed[i].get();
        if (X509_up_ref(cert) == 1 && sk_X509_push(untrusted.get(), cert) <= 0) X509_free(cert);
    }
    if (X509_STORE_CTX_init(context.get(), store.get(), leaf, untrusted.get()) != 1) return false;

    if (m_policy.sslServer) {
        X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_SSL_SERVER);
        X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(context.get());
        // A host that was asked for but is empty matches no certificate; skipping the check would let
        // any certificate pass for it.
        if (m_policy.host && m_policy.host->empty()) {
            result = TrustResult::RecoverableTrustFailure;
            m_failureReason = kReasonNoHost;
            return true;
        }
        if (m_policy.host) {
            std::string host = *m_policy.host;
            if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
            const int set = isIPAddress(host) ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str())
                                              : X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
            if (set != 1) return false;
        }
    }

    const int verified = X509_verify_cert(context.get());
    if (verified < 0) return false;
    if (verified == 1) {
        result = TrustResult::Unspecified;
        m_failureReason.clear();
        Owned<STACK_OF(X509)> built(X509_STORE_CTX_get1_chain(context.get()));
        if (built) {
            m_chain.clear();
            for (int i = 0; i < sk_X509_num(built.get()); ++i) m_chain.push_back(derOfX509(sk_X509_value(built.get(), i)));
        }
    } else {
        result = TrustResult::RecoverableTrustFailure;
        m_failureReason = reasonFor(X509_STORE_CTX_get_error(context.get()));
    }
    return true;
}

}  // namespace platform
