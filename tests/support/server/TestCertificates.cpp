#include "support/server/TestCertificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace support {

namespace {

struct Free {
    void operator()(X509* x) const { X509_free(x); }
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
    void operator()(BIO* b) const { BIO_free(b); }
};

std::string bioText(BIO* bio)
{
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(length));
}

// The DER encoding `encode` (i2d_X509, i2d_PUBKEY) writes for the object.
template <typename Object>
std::vector<std::uint8_t> der(int (*encode)(const Object*, unsigned char**), const Object* object)
{
    unsigned char* out = nullptr;
    const int length = encode(object, &out);
    std::vector<std::uint8_t> bytes(out, out + length);
    OPENSSL_free(out);
    return bytes;
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    if (!extension) throw std::runtime_error("bad certificate extension " + value);
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
}

TestIdentity finish(X509* cert, EVP_PKEY* key)
{
    std::unique_ptr<BIO, Free> certBio(BIO_new(BIO_s_mem())), keyBio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(certBio.get(), cert);
    PEM_write_bio_PrivateKey(keyBio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
    return TestIdentity{bioText(certBio.get()), bioText(keyBio.get()), der(i2d_X509, cert), der(i2d_PUBKEY, key)};
}

std::unique_ptr<EVP_PKEY, Free> readKey(const std::string& pem)
{
    std::unique_ptr<BIO, Free> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    return std::unique_ptr<EVP_PKEY, Free>(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
}

std::unique_ptr<X509, Free> readCertificate(const std::string& pem)
{
    std::unique_ptr<BIO, Free> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    return std::unique_ptr<X509, Free>(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

std::unique_ptr<X509, Free> newCertificate(EVP_PKEY* key, const std::string& commonName, bool expired = false)
{
    static std::atomic<long> serial{1};
    std::unique_ptr<X509, Free> cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial++ + static_cast<long>(getpid()) * 1000);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), expired ? -2 * 86400 : -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), expired ? -86400 : 86400);
    X509_set_pubkey(cert.get(), key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    return cert;
}

}  // namespace

TestIdentity TestCertificates::makeAuthority(const std::string& commonName)
{
    std::unique_ptr<EVP_PKEY, Free> key(EVP_EC_gen("P-256"));
    auto cert = newCertificate(key.get(), commonName);
    X509_set_issuer_name(cert.get(), X509_get_subject_name(cert.get()));
    addExtension(cert.get(), cert.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert.get(), cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(cert.get(), cert.get(), NID_subject_key_identifier, "hash");
    X509_sign(cert.get(), key.get(), EVP_sha256());
    return finish(cert.get(), key.get());
}

TestIdentity TestCertificates::makeServer(const TestIdentity& authority, const std::string& commonName,
                                          const std::vector<std::string>& subjectAltNames, bool expired)
{
    auto issuerKey = readKey(authority.keyPEM);
    auto issuer = readCertificate(authority.certificatePEM);
    std::unique_ptr<EVP_PKEY, Free> key(EVP_EC_gen("P-256"));
    auto cert = newCertificate(key.get(), commonName, expired);
    X509_set_issuer_name(cert.get(), X509_get_subject_name(issuer.get()));
    addExtension(cert.get(), issuer.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(cert.get(), issuer.get(), NID_ext_key_usage, "serverAuth");
    addExtension(cert.get(), issuer.get(), NID_authority_key_identifier, "keyid");
    std::string names;
    for (const auto& name : subjectAltNames) names += (names.empty() ? "" : ",") + name;
    if (!names.empty()) addExtension(cert.get(), issuer.get(), NID_subject_alt_name, names);
    X509_sign(cert.get(), issuerKey.get(), EVP_sha256());
    return finish(cert.get(), key.get());
}

std::string TestCertificates::writeTemporaryFile(const std::string& name, const std::string& text)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "rig-cert-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
    const std::string path = pattern + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

}  // namespace support
