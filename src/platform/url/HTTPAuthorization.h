#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// The answer to a server's password challenge ("WWW-Authenticate"): the "Authorization" header for
// Basic, or for Digest with MD5 (qop "auth" when the server offers it, else the older form without).
// A server may offer several challenges, in one header or in several; the first one we can answer is
// the one to take.
class HTTPAuthorization {
public:
    struct Challenge {
        // As the server wrote it; compare without case.
        std::string scheme;
        // Names in lower case, values unquoted.
        std::map<std::string, std::string> parameters;
        std::string parameter(const std::string& name) const;
    };

    // Every challenge of one header value, in order (a token68 one, such as "Negotiate abc==", with no
    // parameters); a malformed challenge ends the list.
    static std::vector<Challenge> parseAll(const std::string& header);
    // Every challenge of every "WWW-Authenticate" field of a response, in the server's order.
    static std::vector<Challenge> challengesOf(const std::vector<std::pair<std::string, std::string>>& headerFields);
    // The first challenge of the header; nothing for an empty or malformed one.
    static std::optional<Challenge> parse(const std::string& header);
    // Whether header() answers the challenge.
    static bool canAnswer(const Challenge& challenge);
    // A Digest challenge that says only the nonce expired: the password was right.
    static bool isStale(const Challenge& challenge);
    // `uri` is the request's path and query as sent; `nonceCount` counts the answers to this nonce from 1;
    // `clientNonce` is fresh for each answer. A Digest user name that a quoted string cannot carry (a
    // control character such as CR or LF) goes as "username*", percent-encoded, never as it is.
    static std::optional<std::string> header(const Challenge& challenge, const std::string& method, const std::string& uri,
                                             const std::string& user, const std::string& password, unsigned nonceCount,
                                             const std::string& clientNonce);
    // The authentication method a challenge is put to the delegate under.
    static const char* authenticationMethod(const Challenge& challenge);
    static std::string base64(const std::string& text);
};

}  // namespace platform
