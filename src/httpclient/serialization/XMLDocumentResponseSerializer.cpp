#include "httpclient/serialization/XMLDocumentResponseSerializer.h"

#include "httpclient/ArchivedClasses.h"
#include "httpclient/URLObjectCoding.h"

#include "httpclient/serialization/ResponseSerializerSupport.h"
#include "platform/xml/XMLDocument.h"

XMLDocumentResponseSerializer::XMLDocumentResponseSerializer()
{
    acceptableContentTypes = std::set<std::string>{"application/xml", "text/xml"};
}

std::shared_ptr<XMLDocumentResponseSerializer> XMLDocumentResponseSerializer::serializerWithXMLDocumentOptions(std::uint64_t options)
{
    auto serializer = std::make_shared<XMLDocumentResponseSerializer>();
    serializer->options = options;
    return serializer;
}

std::shared_ptr<HTTPResponseSerializer> XMLDocumentResponseSerializer::copy() const
{
    return serializerWithXMLDocumentOptions(options);
}

std::any XMLDocumentResponseSerializer::responseObjectForResponse(const platform::URLResponse* response,
                                                                  const std::optional<Bytes>& data,
                                                                  std::optional<platform::Error>* error)
{
    if (!PassesValidationGate(*this, response, data, error)) return {};
    const Bytes body = data.value_or(Bytes());
    platform::Error parsingError;
    std::shared_ptr<platform::XMLDocument> document = platform::XMLDocument::parse(body.data(), body.size(), &parsingError);
    if (!document) {
        StoreParsingError(parsingError, error);
        return {};
    }
    return document;
}

namespace {
[[maybe_unused]] const bool kArchived =
    ArchivedClasses<HTTPResponseSerializer>::add("XMLDocumentResponseSerializer", [] { return std::make_shared<XMLDocumentResponseSerializer>(); });
}  // namespace

void XMLDocumentResponseSerializer::encodeWithCoder(platform::ArchivedObject& coder) const
{
    HTTPResponseSerializer::encodeWithCoder(coder);
    coder.set("options", platform::PlistValue(static_cast<std::int64_t>(options)));
}

bool XMLDocumentResponseSerializer::initWithCoder(const platform::ArchivedObject& coder)
{
    if (!HTTPResponseSerializer::initWithCoder(coder)) return false;
    const auto optionsValue = URLObjectCoding::integer(coder, "options");
    if (!optionsValue) return false;
    options = static_cast<std::uint64_t>(*optionsValue);
    return true;
}
