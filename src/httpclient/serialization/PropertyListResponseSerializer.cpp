#include "httpclient/serialization/PropertyListResponseSerializer.h"

#include "httpclient/ArchivedClasses.h"
#include "httpclient/URLObjectCoding.h"

#include "httpclient/serialization/ResponseSerializerSupport.h"
#include "platform/plist/PropertyList.h"

PropertyListResponseSerializer::PropertyListResponseSerializer()
{
    acceptableContentTypes = std::set<std::string>{"application/x-plist"};
}

std::shared_ptr<PropertyListResponseSerializer> PropertyListResponseSerializer::serializerWithFormat(std::uint64_t format,
                                                                                                    std::uint64_t readOptions)
{
    auto serializer = std::make_shared<PropertyListResponseSerializer>();
    serializer->format = format;
    serializer->readOptions = readOptions;
    return serializer;
}

std::shared_ptr<HTTPResponseSerializer> PropertyListResponseSerializer::copy() const
{
    return serializerWithFormat(format, readOptions);
}

std::any PropertyListResponseSerializer::responseObjectForResponse(const platform::URLResponse* response,
                                                                   const std::optional<Bytes>& data,
                                                                   std::optional<platform::Error>* error)
{
    if (!PassesValidationGate(*this, response, data, error)) return {};
    if (!data || data->empty()) return {};
    platform::Error parsingError;
    std::optional<platform::PlistValue> list = platform::PropertyList::parse(*data, &parsingError);
    if (!list) {
        StoreParsingError(parsingError, error);
        return {};
    }
    return *list;
}

namespace {
[[maybe_unused]] const bool kArchived =
    ArchivedClasses<HTTPResponseSerializer>::add("PropertyListResponseSerializer", [] { return std::make_shared<PropertyListResponseSerializer>(); });
}  // namespace

void PropertyListResponseSerializer::encodeWithCoder(platform::ArchivedObject& coder) const
{
    HTTPResponseSerializer::encodeWithCoder(coder);
    coder.set("format", platform::PlistValue(static_cast<std::int64_t>(format)));
    coder.set("readOptions", platform::PlistValue(static_cast<std::int64_t>(readOptions)));
}

bool PropertyListResponseSerializer::initWithCoder(const platform::ArchivedObject& coder)
{
    if (!HTTPResponseSerializer::initWithCoder(coder)) return false;
    const auto formatValue = URLObjectCoding::integer(coder, "format");
    const auto readOptionsValue = URLObjectCoding::integer(coder, "readOptions");
    if (!formatValue || !readOptionsValue) return false;
    format = static_cast<std::uint64_t>(*formatValue);
    readOptions = static_cast<std::uint64_t>(*readOptionsValue);
    return true;
}
