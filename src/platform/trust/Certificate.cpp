#include "platform/trust/Certificate.h"

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

namespace platform {

namespace {

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

X509Ptr parse(const Bytes& der)
{
    const unsigned char* cursor = der.data();
    X509Ptr cert(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    // Trailing bytes mean the data was not one certificate.
    if (cert && cursor != der.data() + der.size()) cert.reset();
    return cert;
}

}  // namespace

std::optional<Bytes> Certificate::derFromPEM(const std::string& pem)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    if (!bio) return std::nullopt;
    X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!cert) return std::nullopt;
    unsigned char* out = nullptr;
    const int length = i2d_X509(cert.get(), &out);
    if (length <= 0) return std::nullopt;
    Bytes der(out, out + length);
    OPENSSL_free(out);
    return der;
}

std::string Certificate::pemFromDER(const Bytes& der)
{
    X509Ptr cert = parse(der);
    if (!cert) return {};
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!bio || PEM_write_bio_X509(bio.get(), cert.get()) != 1) return {};
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

bool Certificate::isCertificate(const Bytes& der)
{
    return parse(der) != nullptr;
}

std::optional<Bytes> Certificate::publicKey(const Bytes& der)
{
    X509Ptr cert = parse(der);
    if (!cert) return std::nullopt;
    unsigned char* out = nullptr;
    const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert.get()), &out);
    if (length <= 0) return std::nullopt;
    Bytes key(out, out + length);
    OPENSSL_free(out);
    return key;
}

}  // namespace platform
