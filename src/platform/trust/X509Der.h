#pragma once

#include <openssl/crypto.h>
#include <openssl/x509.h>

#include "platform/trust/Certificate.h"

namespace platform {

// DER bytes of an OpenSSL certificate; empty when it cannot be encoded. Internal to the trust layer,
// which keeps OpenSSL types out of its public headers.
inline Bytes derOfX509(X509* cert)
{
    unsigned char* out = nullptr;
    const int length = i2d_X509(cert, &out);
    if (length <= 0) return {};
    Bytes der(out, out + length);
    OPENSSL_free(out);
    return der;
}

}  // namespace platform
