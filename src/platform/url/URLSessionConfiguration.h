#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/url/URLRequest.h"

namespace platform {

// How a URL session loads. A background configuration only carries its identifier: this system has no
// loading service outside the process, so its sessions run like any other.
struct URLSessionConfiguration {
    std::optional<std::string> identifier;
    // The idle time-out of a request that does not set its own.
    double timeoutIntervalForRequest = 60.0;
    // Stored only: there is no response cache.
    URLRequest::CachePolicy requestCachePolicy = URLRequest::UseProtocolCachePolicy;
    // Sent with every request that does not set the field itself.
    std::vector<std::pair<std::string, std::string>> HTTPAdditionalHeaders;
    // Cookies are kept per session and sent back on later requests of the same session.
    bool HTTPShouldSetCookies = true;

    static URLSessionConfiguration defaultSessionConfiguration() { return {}; }
    static URLSessionConfiguration backgroundSessionConfiguration(std::string identifier)
    {
        URLSessionConfiguration configuration;
        configuration.identifier = std::move(identifier);
        return configuration;
    }
    bool operator==(const URLSessionConfiguration&) const = default;
};

}  // namespace platform
