#include "httpclient/serialization/JSONRequestSerializer.h"

using platform::Error;
using platform::URLRequest;

std::shared_ptr<JSONRequestSerializer> JSONRequestSerializer::serializerWithWritingOptions(std::uint64_t options)
{
    auto serializer = std::make_shared<JSONRequestSerializer>();
    serializer->writingOptions = options;
    return serializer;
}

std::shared_ptr<HTTPRequestSerializer> JSONRequestSerializer::copy() const
{
    auto copied = std::make_shared<JSONRequestSerializer>();
    static_cast<HTTPRequestSerializer&>(*copied) = *HTTPRequestSerializer::copy();
    copied->writingOptions = writingOptions;
    return copied;
}

std::optional<URLRequest> JSONRequestSerializer::requestBySerializingRequest(const URLRequest& request,
                                                                             const std::optional<ParameterValue>& parameters,
                                                                             std::optional<Error>* error)
{
    return requestWithDocumentBody(request, parameters, error, "application/json",
                                   [this](const ParameterValue& value, Error& writeError) -> std::optional<std::vector<std::uint8_t>> {
                                       std::optional<nlohmann::json> document = value.toJSON(&writeError);
                                       if (!document) return std::nullopt;
                                       try {
                                           const std::string text = document->dump((writingOptions & kJSONWritingPrettyPrinted) ? 2 : -1);
                                           return std::vector<std::uint8_t>(text.begin(), text.end());
                                       } catch (const nlohmann::json::exception& failure) {
                                           writeError = Error::make(URLRequestSerializationErrorDomain, URLRequestSerializationErrorUnwritable,
                                                                    std::string("The parameters are no JSON document: ") + failure.what());
                                           return std::nullopt;
                                       }
                                   });
}
