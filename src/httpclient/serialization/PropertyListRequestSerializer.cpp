#include "httpclient/serialization/PropertyListRequestSerializer.h"

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
    if (encodesParametersInURI(request)) return HTTPRequestSerializer::requestBySerializingRequest(request, parameters, error);
    URLRequest mutableRequest = request;
    addDefaultHeaders(mutableRequest);
    if (!parameters) return mutableRequest;
    if (!mutableRequest.valueForHTTPHeaderField("Content-Type"))
        mutableRequest.headerFields.emplace_back("Content-Type", "application/x-plist");
    Error writeError;
    std::optional<platform::PlistValue> list = parameters->toPlist(&writeError);
    if (list && format != kPropertyListXMLFormat && format != kPropertyListBinaryFormat) {
        list.reset();
        writeError = Error::make(URLRequestSerializationErrorDomain, URLRequestSerializationErrorUnwritable,
                                 "Property lists are written in the XML or the binary format only");
    }
    if (list) {
        std::optional<platform::Bytes> body = platform::PropertyList::serialize(
            *list, format == kPropertyListXMLFormat ? platform::PlistFormat::Xml : platform::PlistFormat::Binary, &writeError);
        if (body) {
            mutableRequest.httpBody = std::move(*body);
            return mutableRequest;
        }
    }
    if (error) *error = writeError;
    return mutableRequest;
}
