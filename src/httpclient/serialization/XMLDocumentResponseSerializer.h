#pragma once

#include "httpclient/HTTPResponseSerializer.h"

// Parses XML bodies (application/xml, text/xml) into a std::shared_ptr<platform::XMLDocument>.
class XMLDocumentResponseSerializer : public HTTPResponseSerializer {
public:
    XMLDocumentResponseSerializer();
    static std::shared_ptr<XMLDocumentResponseSerializer> serializer() { return serializerWithXMLDocumentOptions(0); }
    static std::shared_ptr<XMLDocumentResponseSerializer> serializerWithXMLDocumentOptions(std::uint64_t options);
    std::shared_ptr<HTTPResponseSerializer> copy() const override;
    const char* archivedClassName() const override { return "XMLDocumentResponseSerializer"; }
    void encodeWithCoder(platform::ArchivedObject& coder) const override;
    bool initWithCoder(const platform::ArchivedObject& coder) override;

    // Stored and copied; documents are always read under the same safe rules.
    std::uint64_t options = 0;

    std::any responseObjectForResponse(const platform::URLResponse* response, const std::optional<Bytes>& data,
                                       std::optional<platform::Error>* error) override;
};
