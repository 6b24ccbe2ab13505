#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

class InputStream;

// One HTTP request as the loading layer runs it. The time-out is an idle time-out: the request fails when
// neither a connection nor any data has come for that long.
struct URLRequest {
    enum CachePolicy { UseProtocolCachePolicy = 0, ReloadIgnoringLocalCacheData = 1 };

    std::string url;
    std::string httpMethod = "GET";
    std::vector<std::pair<std::string, std::string>> headerFields;
    double timeoutInterval = 60.0;
    // Seconds the whole request may take, however steadily data comes; 0 sets no limit.
    double totalTimeoutInterval = 0;
    // A request that moves fewer than `slowTransferBytes` (either way) in `slowTransferInterval` seconds
    // fails as a stalled one does, so a trickle of a few bytes a second cannot hold it for the whole
    // total time; either 0 sets no such floor.
    std::uint64_t slowTransferBytes = 0;
    double slowTransferInterval = 0;
    // There is no local response cache, so both policies load from the network.
    CachePolicy cachePolicy = UseProtocolCachePolicy;
    // Carried for callers that set them; the loading layer has no cellular link, cookie store or pipelining.
    bool allowsCellularAccess = true;
    bool HTTPShouldHandleCookies = true;
    bool HTTPShouldUsePipelining = false;
    std::uint64_t networkServiceType = 0;
    // The body, as bytes or as a stream read while sending (a copied request shares the stream).
    std::optional<std::vector<std::uint8_t>> httpBody;
    std::shared_ptr<InputStream> httpBodyStream;

    URLRequest() = default;
    explicit URLRequest(std::string u, double timeout = 60.0, CachePolicy policy = UseProtocolCachePolicy)
        : url(std::move(u)), timeoutInterval(timeout), cachePolicy(policy)
    {
    }

    // Replaces every field of that name (names compare without case); an empty value removes it. A field
    // that cannot go on the wire as one header line (see isSendableField) throws std::invalid_argument.
    void setValue(const std::string& value, const std::string& field);
    std::optional<std::string> valueForHTTPHeaderField(const std::string& field) const;
    // The scheme (lower case) and the host (brackets kept for IPv6 literals) as the connection reads the
    // URL; empty when the URL does not parse or has none.
    std::string scheme() const;
    std::string host() const;

    // Whether a header field goes out as one line of its own: a name, and neither name nor value holding
    // CR, LF or NUL (which would end the line early and let the rest pass for fields of its own).
    static bool isSendableField(std::string_view name, std::string_view value);
    // Whether a method goes out as the first word of the request line: a token (letters, digits and
    // the few marks a token allows), so no space, line break or NUL can end that line early.
    static bool isSendableMethod(std::string_view method);
};

}  // namespace platform
