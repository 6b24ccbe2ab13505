#include "httpclient/serialization/PropertyListResponseSerializer.h"

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
