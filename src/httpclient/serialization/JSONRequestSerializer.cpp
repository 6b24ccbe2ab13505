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
    if (encodesParametersInURI(request)) return HTTPRequestSerializer::requestBySerializingRequest(request, parameters, error);
    URLRequest mutableRequest = request;
    addDefaultHeaders(mutableRequest);
    if (!parameters) return mutableRequest;
    if (!mutableRequest.valueForHTTPHeaderField("Content-Type"))
        mutableRequest.headerFields.emplace_back("Content-Type", "application/json");
    Error writeError;
    std::optional<nlohmann::json> document = parameters->toJSON(&writeError);
    if (document) {
        try {
            const std::string text = document->dump((writingOptions & kJSONWritingPrettyPrinted) ? 2 : -1);
            mutableRequest.httpBody = std::vector<std::uint8_t>(text.begin(), text.end());
            return mutableRequest;
        } catch (const nlohmann::json::exception& failure) {
            writeError = Error::make(URLRequestSerializationErrorDomain, URLRequestSerializationErrorUnwritable,
                                     std::string("The parameters are no JSON document: ") + failure.what());
        }
    }
    if (error) *error = writeError;
    return mutableRequest;
}
