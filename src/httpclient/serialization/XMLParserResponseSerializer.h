#pragma once

#include "httpclient/HTTPResponseSerializer.h"

// Hands XML bodies (application/xml, text/xml) over as an unstarted std::shared_ptr<platform::XMLParser>.
class XMLParserResponseSerializer : public HTTPResponseSerializer {
public:
    const char* archivedClassName() const override { return "XMLParserResponseSerializer"; }
    XMLParserResponseSerializer();
    static std::shared_ptr<XMLParserResponseSerializer> serializer();

    std::any responseObjectForResponse(const platform::URLResponse* response, const std::optional<Bytes>& data,
                                       std::optional<platform::Error>* error) override;
};
