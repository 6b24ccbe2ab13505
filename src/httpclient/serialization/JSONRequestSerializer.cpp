#include "httpclient/serialization/JSONRequestSerializer.h"

#include "httpclient/ArchivedClasses.h"
#include "httpclient/URLObjectCoding.h"

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

namespace {
[[maybe_unused]] const bool kArchived =
    ArchivedClasses<HTTPRequestSerializer>::add("JSONRequestSerializer", [] { return std::make_shared<JSONRequestSerializer>(); });
}  // namespace

void JSONRequestSerializer::encodeWithCoder(platform::ArchivedObject& coder) const
{
    HTTPRequestSerializer::encodeWithCoder(coder);
    coder.set("writingOptions", platform::PlistValue(static_cast<std::int64_t>(writingOptions)));
}

bool JSONRequestSerializer::initWithCoder(const platform::ArchivedObject& coder)
{
    if (!HTTPRequestSerializer::initWithCoder(coder)) return false;
    const auto archivedWritingOptions = URLObjectCoding::integer(coder, "writingOptions");
    if (!archivedWritingOptions) return false;
    writingOptions = static_cast<std::uint64_t>(*archivedWritingOptions);
    return true;
}
