#pragma once

#include "httpclient/HTTPResponseSerializer.h"

// Parses property-list bodies (application/x-plist, XML or binary) into a platform::PlistValue.
class PropertyListResponseSerializer : public HTTPResponseSerializer {
public:
    PropertyListResponseSerializer();
    static std::shared_ptr<PropertyListResponseSerializer> serializer() { return serializerWithFormat(100, 0); }
    static std::shared_ptr<PropertyListResponseSerializer> serializerWithFormat(std::uint64_t format, std::uint64_t readOptions);
    std::shared_ptr<HTTPResponseSerializer> copy() const override;
    const char* archivedClassName() const override { return "PropertyListResponseSerializer"; }
    void encodeWithCoder(platform::ArchivedObject& coder) const override;
    bool initWithCoder(const platform::ArchivedObject& coder) override;

    // Both stored and copied only: the format is found from the body.
    std::uint64_t format = 100;
    std::uint64_t readOptions = 0;

    std::any responseObjectForResponse(const platform::URLResponse* response, const std::optional<Bytes>& data,
                                       std::optional<platform::Error>* error) override;
};
