#include "httpclient/serialization/RelativeRequest.h"

#include "platform/url/RelativeURL.h"
#include "platform/url/URLError.h"

std::optional<platform::URLRequest> RelativeRequest::make(HTTPRequestSerializer& serializer, const std::optional<std::string>& baseURL,
                                                          const std::string& method, const std::string& URLString,
                                                          const std::optional<ParameterValue>& parameters, const FormBlock* formBlock,
                                                          platform::Error& error)
{
    const std::optional<std::string> url = platform::RelativeURL::resolve(baseURL, URLString);
    // The resolver takes characters ("{", "|") that the serializer refuses as a broken precondition.
    if (!url || !URLStringParses(*url)) {
        error = platform::makeURLError(platform::URLErrorBadURL, URLString, "unsupported URL");
        return std::nullopt;
    }
    std::optional<platform::Error> failure;
    std::optional<platform::URLRequest> request =
        formBlock ? serializer.multipartFormRequestWithMethod(method, *url, parameters, *formBlock, &failure)
                  : serializer.requestWithMethod(method, *url, parameters, &failure);
    // A serializer may hand back a request without its body along with the error: that is a failure too.
    if (failure || !request) {
        error = failure.value_or(platform::makeURLError(platform::URLErrorBadURL, *url, "The request cannot be made."));
        return std::nullopt;
    }
    return request;
}
