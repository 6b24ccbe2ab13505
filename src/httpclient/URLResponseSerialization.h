#pragma once

#include <any>
#include <optional>

#include "httpclient/SecurityPolicy.h"
#include "platform/error/Error.h"
#include "platform/url/URLResponse.h"

// Turns a response and its body into the object handed to the caller; a refused response leaves its
// error in the out-parameter.
class URLResponseSerialization {
public:
    virtual ~URLResponseSerialization() = default;
    virtual std::any responseObjectForResponse(const platform::URLResponse* response, const std::optional<Bytes>& data,
                                               std::optional<platform::Error>* error) = 0;
};
