#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "common/Bytes.h"
#include "platform/error/Error.h"
#include "platform/url/AuthenticationChallenge.h"
#include "platform/url/URLRequest.h"
#include "platform/url/URLResponse.h"

namespace platform {

class URLConnection;

struct CachedURLResponse {
    URLResponse response;
    Bytes data;
};

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
    // Body bytes handed to the network: this piece, the total so far in this attempt, and the body's
    // length (-1 when not known in advance).
    virtual void didSendBodyData(URLConnection&, std::int64_t, std::int64_t, std::int64_t) {}
    // What a loader with a response cache would store for a request; the answer replaces it, nothing
    // stores none. This loader keeps no response cache and so never asks.
    virtual std::optional<CachedURLResponse> willCacheResponse(URLConnection&, const CachedURLResponse& proposed)
    {
        return proposed;
    }
    virtual void didReceiveData(URLConnection&, const std::uint8_t*, std::size_t) {}
    virtual void didFinishLoading(URLConnection&) {}
    virtual void didFailWithError(URLConnection&, const Error&) {}
};

}  // namespace platform
