#include "httpclient/serialization/PropertyListRequestSerializer.h"

#include "httpclient/ArchivedClasses.h"
#include "httpclient/URLObjectCoding.h"

#include "platform/plist/PropertyList.h"

using platform::Error;
using platform::URLRequest;

std::shared_ptr<PropertyListRequestSerializer> PropertyListRequestSerializer::serializerWithFormat(std::uint64_t format,
                                                                                                  std::uint64_t writeOptions)
{
    auto serializer = std::make_shared<PropertyListRequestSerializer>();
    serializer->format = format;
    serializer->writeOptions = writeOptions;
    return serializer;
}

std::shared_ptr<HTTPRequestSerializer> PropertyListRequestSerializer::copy() const
{
    auto copied = std::make_shared<PropertyListRequestSerializer>();
    static_cast<HTTPRequestSerializer&>(*copied) = *HTTPRequestSerializer::copy();
    copied->format = format;
    copied->writeOptions = writeOptions;
    return copied;
}

std::optional<URLRequest> PropertyListRequestSerializer::requestBySerializingRequest(
    const URLRequest& request, const std::optional<ParameterValue>& parameters, std::optional<Error>* error)
{
    return requestWithDocumentBody(request, parameters, error, "application/x-plist",
                                   [this](const ParameterValue& value, Error& writeError) -> std::optional<platform::Bytes> {
                                       if (format != kPropertyListXMLFormat && format != kPropertyListBinaryFormat) {
                                           writeError = Error::make(URLRequestSerializationErrorDomain, URLRequestSerializationErrorUnwritable,
                                                                    "Property lists are written in the XML or the binary format only");
                                           return std::nullopt;
                                       }
                                       std::optional<platform::PlistValue> list = value.toPlist(&writeError);
                                       if (!list) return std::nullopt;
                                       return platform::PropertyList::serialize(*list,
                                                                                format == kPropertyListXMLFormat ? platform::PlistFormat::Xml
                                                                                                                 : platform::PlistFormat::Binary,
                                                                                &writeError);
                                   });
}

namespace {
[[maybe_unused]] const bool kArchived =
    ArchivedClasses<HTTPRequestSerializer>::add("PropertyListRequestSerializer", [] { return std::make_shared<PropertyListRequestSerializer>(); });
}  // namespace

void PropertyListRequestSerializer::encodeWithCoder(platform::ArchivedObject& coder) const
{
    HTTPRequestSerializer::encodeWithCoder(coder);
    coder.set("format", platform::PlistValue(static_cast<std::int64_t>(format)));
    coder.set("writeOptions", platform::PlistValue(static_cast<std::int64_t>(writeOptions)));
}

bool PropertyListRequestSerializer::initWithCoder(const platform::ArchivedObject& coder)
{
    if (!HTTPRequestSerializer::initWithCoder(coder)) return false;
    const auto archivedFormat = URLObjectCoding::integer(coder, "format");
    const auto archivedWriteOptions = URLObjectCoding::integer(coder, "writeOptions");
    if (!archivedFormat || !archivedWriteOptions) return false;
    format = static_cast<std::uint64_t>(*archivedFormat);
    writeOptions = static_cast<std::uint64_t>(*archivedWriteOptions);
    return true;
}
