#pragma once

#include <functional>
#include <optional>
#include <string>

#include "httpclient/serialization/HTTPRequestSerializer.h"

class MultipartFormData;

// What both managers do before each call: resolve the URL text against their base URL, then let their
// request serializer build the request (with a multipart body when a form block is given). A text that
// does not resolve to a URL is a bad-URL error, never a broken precondition.
class RelativeRequest {
public:
    using FormBlock = std::function<void(MultipartFormData& formData)>;

    // Nothing, with the error set, when the text does not resolve or the serializer fails.
    static std::optional<platform::URLRequest> make(HTTPRequestSerializer& serializer, const std::optional<std::string>& baseURL,
                                                    const std::string& method, const std::string& URLString,
                                                    const std::optional<ParameterValue>& parameters, const FormBlock* formBlock,
                                                    platform::Error& error);
};
