#pragma once

#include <cstdint>
#include <optional>

#include "httpclient/serialization/ParameterValue.h"
#include "platform/error/Error.h"
#include "platform/url/URLRequest.h"

inline constexpr const char* URLRequestSerializationErrorDomain = "org.pexo.rigmora.httpclient.request";

enum URLRequestSerializationErrorCode : std::int64_t {
    // A file part whose URL is no file URL or names no reachable file.
    URLRequestSerializationErrorBadURL = -1000,
    // A part's content stream that ended before the length it was appended with.
    URLRequestSerializationErrorIncompleteBody = 2,
    // A text that the chosen character set cannot hold.
    URLRequestSerializationErrorUnencodable = 517,
    // Parameters the body's document format cannot hold.
    URLRequestSerializationErrorUnwritable = 3851,
};

inline constexpr const char* kLocalizedFailureReasonErrorKey = "org.pexo.rigmora.error.failure-reason";

// Builds the request that carries a set of parameters; nothing with the error set when that fails.
class URLRequestSerialization {
public:
    virtual ~URLRequestSerialization() = default;
    virtual std::optional<platform::URLRequest> requestBySerializingRequest(const platform::URLRequest& request,
                                                                            const std::optional<ParameterValue>& parameters,
                                                                            std::optional<platform::Error>* error) = 0;
};
