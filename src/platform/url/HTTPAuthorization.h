#pragma once

#include <map>
#include <optional>
#include <string>

namespace platform {

// The answer to a server's password challenge ("WWW-Authenticate"): the "Authorization" header for
// Basic, or for Digest with MD5 (qop "auth" when the server offers it, else the older form without).
// A scheme or algorithm we cannot answer gives nothing, and the 401 is then the answer.
class HTTPAuthorization {
public:
    struct Challenge {
        // As the server wrote it; compare without case.
        std::string scheme;
        // Names in lower case, values unquoted.
        std::map<std::string, std::string> parameters;
        std::string parameter(const std::string& name) const;
    };

    // The first challenge of the header; nothing for an empty or malformed one.
    static std::optional<Challenge> parse(const std::string& header);
    // `uri` is the request's path and query as sent; `nonceCount` counts the answers to this nonce from 1;
    // `clientNonce` is fresh for each answer.
    static std::optional<std::string> header(const Challenge& challenge, const std::string& method, const std::string& uri,
                                             const std::string& user, const std::string& password, unsigned nonceCount,
                                             const std::string& clientNonce);
    // The authentication method a challenge is put to the delegate under.
    static const char* authenticationMethod(const Challenge& challenge);
    static std::string base64(const std::string& text);
};

}  // namespace platform
