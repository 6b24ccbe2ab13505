#pragma once

#include "httpclient/serialization/HTTPRequestSerializer.h"

// Sends the parameters as a JSON document in the body, except for the methods that put them into the URL.
class JSONRequestSerializer : public HTTPRequestSerializer {
public:
    // The one writing option: the document indented for reading.
    static constexpr std::uint64_t kJSONWritingPrettyPrinted = 1;

    using HTTPRequestSerializer::HTTPRequestSerializer;
    static std::shared_ptr<JSONRequestSerializer> serializer() { return serializerWithWritingOptions(0); }
    static std::shared_ptr<JSONRequestSerializer> serializerWithWritingOptions(std::uint64_t writingOptions);
    std::shared_ptr<HTTPRequestSerializer> copy() const override;
    const char* archivedClassName() const override { return "JSONRequestSerializer"; }
    void encodeWithCoder(platform::ArchivedObject& coder) const override;
    bool initWithCoder(const platform::ArchivedObject& coder) override;

    std::uint64_t writingOptions = 0;

    // A document that cannot be written leaves the request without body and sets the error.
    std::optional<platform::URLRequest> requestBySerializingRequest(const platform::URLRequest& request,
                                                                    const std::optional<ParameterValue>& parameters,
                                                                    std::optional<platform::Error>* error) override;
};
