#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace support {

// A key pair and its certificate, made in memory for one test.
struct TestIdentity {
    std::string certificatePEM;
    std::string keyPEM;
    std::vector<std::uint8_t> certificateDER;
    // SubjectPublicKeyInfo, DER.
    std::vector<std::uint8_t> publicKeyDER;
};

// A throw-away certificate authority and server certificates it signs (P-256 keys, valid for a day).
class TestCertificates {
public:
    static TestIdentity makeAuthority(const std::string& commonName);
    // A server certificate for the names, e.g. {"DNS:localhost", "IP:127.0.0.1"}; an expired one ended
    // a day ago.
    static TestIdentity makeServer(const TestIdentity& authority, const std::string& commonName,
                                   const std::vector<std::string>& subjectAltNames, bool expired = false);
    // Writes the text to a new file in a fresh temporary folder and returns the path.
    static std::string writeTemporaryFile(const std::string& name, const std::string& text);
};

}  // namespace support
