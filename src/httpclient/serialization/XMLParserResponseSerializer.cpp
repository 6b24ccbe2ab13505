#include "httpclient/serialization/XMLParserResponseSerializer.h"

#include "httpclient/ArchivedClasses.h"
#include "httpclient/URLObjectCoding.h"

#include "httpclient/serialization/ResponseSerializerSupport.h"
#include "platform/xml/XMLParser.h"

XMLParserResponseSerializer::XMLParserResponseSerializer()
{
    acceptableContentTypes = std::set<std::string>{"application/xml", "text/xml"};
}

std::shared_ptr<XMLParserResponseSerializer> XMLParserResponseSerializer::serializer()
{
    return std::make_shared<XMLParserResponseSerializer>();
}

std::shared_ptr<HTTPResponseSerializer> XMLParserResponseSerializer::copy() const
{
    auto copied = serializer();
    copied->acceptableStatusCodes = acceptableStatusCodes;
    copied->acceptableContentTypes = acceptableContentTypes;
    return copied;
}

std::any XMLParserResponseSerializer::responseObjectForResponse(const platform::URLResponse* response,
                                                                const std::optional<Bytes>& data,
                                                                std::optional<platform::Error>* error)
{
    if (!PassesValidationGate(*this, response, data, error)) return {};
    return std::make_shared<platform::XMLParser>(data.value_or(Bytes()));
}

namespace {
[[maybe_unused]] const bool kArchived =
    ArchivedClasses<HTTPResponseSerializer>::add("XMLParserResponseSerializer", [] { return std::make_shared<XMLParserResponseSerializer>(); });
}  // namespace
