#pragma once

#include "httpclient/HTTPResponseSerializer.h"

// Hands XML bodies (application/xml, text/xml) over as an unstarted std::shared_ptr<platform::XMLParser>.
class XMLParserResponseSerializer : public HTTPResponseSerializer {
public:
    const char* archivedClassName() const override { return "XMLParserResponseSerializer"; }
    XMLParserResponseSerializer();
    static std::shared_ptr<XMLParserResponseSerializer> serializer();
    // As the base class copies: the acceptable status codes and content types come along.
    std::shared_ptr<HTTPResponseSerializer> copy() const override;

    std::any responseObjectForResponse(const platform::URLResponse* response, const std::optional<Bytes>& data,
                                       std::optional<platform::Error>* error) override;
};
