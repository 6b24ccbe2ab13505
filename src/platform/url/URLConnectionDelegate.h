#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/error/Error.h"
#include "platform/url/AuthenticationChallenge.h"
#include "platform/url/URLRequest.h"
#include "platform/url/URLResponse.h"

namespace platform {

class URLConnection;

// What a connection tells its delegate, always on the thread that runs the connection. After
// didFinishLoading or didFailWithError, and after a cancel, nothing more is sent.
class URLConnectionDelegate {
public:
    virtual ~URLConnectionDelegate() = default;

    // Default: the standard evaluation of the server's chain for the request's host.
    virtual void willSendRequestForAuthenticationChallenge(URLConnection&, AuthenticationChallenge& challenge)
    {
        challenge.continueWithoutCredential();
    }
    // A redirect: the request to follow it with, or nothing to take the redirect response as the answer.
    virtual std::optional<URLRequest> willSendRequest(URLConnection&, const URLRequest& request, const URLResponse&)
    {
        return request;
    }
    virtual void didReceiveResponse(URLConnection&, const URLResponse&) {}
    virtual void didReceiveData(URLConnection&, const std::uint8_t*, std::size_t) {}
    virtual void didFinishLoading(URLConnection&) {}
    virtual void didFailWithError(URLConnection&, const Error&) {}
};

}  // namespace platform
