#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

using Bytes = std::vector<std::uint8_t>;

// Conversions between the encodings a certificate travels in, and the one piece of it that key pinning
// compares: the SubjectPublicKeyInfo.
class Certificate {
public:
    // DER of the first certificate of a PEM text; nothing when the text holds none.
    static std::optional<Bytes> derFromPEM(const std::string& pem);
    static std::string pemFromDER(const Bytes& der);
    // True when the bytes parse as one DER certificate.
    static bool isCertificate(const Bytes& der);
    // DER SubjectPublicKeyInfo of the certificate; nothing when it does not parse.
    static std::optional<Bytes> publicKey(const Bytes& der);
};

}  // namespace platform
