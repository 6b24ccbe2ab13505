#include "httpclient/serialization/ResponseSerializerSupport.h"

#include "httpclient/serialization/URLRequestSerialization.h"
#include "platform/url/URLError.h"

using platform::Error;

bool ErrorOrUnderlyingErrorHasCodeInDomain(const Error* error, std::int64_t code, const std::string& domain)
{
    for (; error; error = error->underlying.get())
        if (error->domain == domain && error->code == code) return true;
    return false;
}

nlohmann::json JSONObjectByRemovingKeysWithNullValues(const nlohmann::json& object, std::uint64_t readingOptions)
{
    if (object.is_array()) {
        nlohmann::json cleaned = nlohmann::json::array();
        for (const nlohmann::json& element : object) cleaned.push_back(JSONObjectByRemovingKeysWithNullValues(element, readingOptions));
        return cleaned;
    }
    if (object.is_object()) {
        nlohmann::json cleaned = nlohmann::json::object();
        for (const auto& [key, value] : object.items())
            if (!value.is_null()) cleaned[key] = JSONObjectByRemovingKeysWithNullValues(value, readingOptions);
        return cleaned;
    }
    return object;
}

bool PassesValidationGate(HTTPResponseSerializer& serializer, const platform::URLResponse* response,
                          const std::optional<Bytes>& data, std::optional<Error>* error)
{
    if (serializer.validateResponse(response, data, error)) return true;
    if (!error) return false;
    if (!*error) {
        *error = Error::make(URLResponseSerializationErrorDomain, platform::URLErrorBadServerResponse,
                             HTTPClientTexts().text("Request failed: unacceptable response"));
        return false;
    }
    return !ErrorOrUnderlyingErrorHasCodeInDomain(&**error, platform::URLErrorCannotDecodeContentData,
                                                  URLResponseSerializationErrorDomain);
}

void StoreParsingError(const std::optional<Error>& parsingError, std::optional<Error>* error)
{
    if (error) *error = ErrorWithUnderlyingError(parsingError, *error);
}

Error CannotDecodeError(const std::string& description, const std::string& reason)
{
    std::map<std::string, std::string> userInfo;
    if (!reason.empty()) userInfo[kLocalizedFailureReasonErrorKey] = reason;
    return Error::make(URLResponseSerializationErrorDomain, platform::URLErrorCannotDecodeContentData, description,
                       std::move(userInfo));
}
