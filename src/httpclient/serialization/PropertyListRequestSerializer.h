#pragma once

#include "httpclient/serialization/HTTPRequestSerializer.h"

// Sends the parameters as a property list in the body, except for the methods that put them into the URL.
class PropertyListRequestSerializer : public HTTPRequestSerializer {
public:
    // The format numbers callers know; only these two can be written.
    static constexpr std::uint64_t kPropertyListXMLFormat = 100;
    static constexpr std::uint64_t kPropertyListBinaryFormat = 200;

    using HTTPRequestSerializer::HTTPRequestSerializer;
    static std::shared_ptr<PropertyListRequestSerializer> serializer()
    {
        return serializerWithFormat(kPropertyListXMLFormat, 0);
    }
    static std::shared_ptr<PropertyListRequestSerializer> serializerWithFormat(std::uint64_t format, std::uint64_t writeOptions);
    std::shared_ptr<HTTPRequestSerializer> copy() const override;
    const char* archivedClassName() const override { return "PropertyListRequestSerializer"; }
    void encodeWithCoder(platform::ArchivedObject& coder) const override;
    bool initWithCoder(const platform::ArchivedObject& coder) override;

    std::uint64_t format = kPropertyListXMLFormat;
    // Stored and copied; the writer has no options.
    std::uint64_t writeOptions = 0;

    // A list that cannot be written leaves the request without body and sets the error.
    std::optional<platform::URLRequest> requestBySerializingRequest(const platform::URLRequest& request,
                                                                    const std::optional<ParameterValue>& parameters,
                                                                    std::optional<platform::Error>* error) override;
};
