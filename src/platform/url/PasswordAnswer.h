#pragma once

#include <optional>
#include <string>

#include "platform/url/AuthenticationChallenge.h"
#include "platform/url/HTTPAuthorization.h"

namespace platform {

// A password given for one protection space, kept with it: the scheme, host and port of the URL whose
// challenge it answered. Each attempt at that space carries it (a Digest answer made afresh for the
// attempt's method and path, its nonce counted on); an attempt anywhere else carries nothing, so a
// redirect to another host, or from https to plain http, never gets it.
class PasswordAnswer {
public:
    PasswordAnswer(std::string url, HTTPAuthorization::Challenge challenge, URLCredential credential);

    bool isDigest() const;
    // The "Authorization" value for an attempt at `url` (its path and query as sent in `uri`), or nothing
    // when the URL lies outside the space. A Digest answer counts one more use of its nonce.
    std::optional<std::string> authorizationFor(const std::string& url, const std::string& method, const std::string& uri);
    // A challenge of the same Digest realm that says only the nonce expired: later answers use its nonce,
    // counted from 1 again. False, and nothing changes, for any other challenge.
    bool renewNonce(const HTTPAuthorization::Challenge& challenge);

private:
    std::string m_url;
    HTTPAuthorization::Challenge m_challenge;
    URLCredential m_credential;
    unsigned m_nonceCount = 0;
};

}  // namespace platform
