#include "platform/url/PasswordAnswer.h"

#include <cstdio>
#include <random>
#include <strings.h>

#include "platform/url/CurlSupport.h"

namespace platform {

PasswordAnswer::PasswordAnswer(std::string url, HTTPAuthorization::Challenge challenge, URLCredential credential)
    : m_url(std::move(url)), m_challenge(std::move(challenge)), m_credential(std::move(credential))
{
}

bool PasswordAnswer::isDigest() const
{
    return strcasecmp(m_challenge.scheme.c_str(), "Digest") == 0;
}

std::optional<std::string> PasswordAnswer::authorizationFor(const std::string& url, const std::string& method,
                                                            const std::string& uri)
{
    if (!sameOrigin(m_url, url)) return std::nullopt;
    std::random_device random;
    char clientNonce[17];
    std::snprintf(clientNonce, sizeof clientNonce, "%08x%08x", random(), random());
    auto answer = HTTPAuthorization::header(m_challenge, method, uri, m_credential.user, m_credential.password,
                                            m_nonceCount + 1, clientNonce);
    if (answer) ++m_nonceCount;
    return answer;
}

bool PasswordAnswer::renewNonce(const HTTPAuthorization::Challenge& challenge)
{
    if (!isDigest() || !HTTPAuthorization::isStale(challenge) || !HTTPAuthorization::canAnswer(challenge) ||
        challenge.parameter("realm") != m_challenge.parameter("realm"))
        return false;
    m_challenge = challenge;
    m_nonceCount = 0;
    return true;
}

}  // namespace platform
